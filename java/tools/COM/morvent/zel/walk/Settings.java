package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.io.IOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/**
 * {@code zel get}, {@code zel set} and {@code zel unset}: one setting or rule, named by the words
 * {@code zel show} prints before its value.
 */
final class Settings {
    private static final String KEYS = String.join("\n",
        "KEY names one setting or rule, in the words of 'zel show' (quote '*' for the shell):",
        "  top                                  the top cell: VALUE is LIB CELL VIEW",
        "  default-views | default-libs | default-stops     a default list",
        "  constant NAME                        a constant; $(NAME) in a value refers to it",
        "  note                                 the note: each VALUE word is a line",
        "  cell LIB|* CELL PROPERTY             a cell rule: view-binding VIEW, views LIST,",
        "                                       libs LIST, stop, bind \"\" \"\" \"\" (bind to open)",
        "  inst LIB|* CELL VIEW|* INST PROPERTY an instance rule: view-binding VIEW, views LIST,",
        "                                       libs LIST, stop, bind \"\" \"\" \"\" (bind to open)",
        "  occurrence I1 I2 ... PROPERTY        an occurrence rule, by the instance names from the",
        "                                       top: bind LIB CELL VIEW (\"\" \"\" \"\": open), stop",
        "A LIST is one word: quote it, \"schematic symbol\". stop takes no VALUE.");

    static final String GET_HELP = String.join("\n",
        "Prints the value of KEY in configuration CONFIG (LIB/CELL/VIEW) as saved: a list as",
        "one line, several words (top, bind) as the file writes them; a stop prints 'stop'.",
        KEYS,
        "Options:",
        Zel.LIBS_HELP,
        "Exit status: 0 printed; 1 KEY is not set; 2 the configuration cannot be read or a",
        "wrong command line.");
    static final String SET_HELP = String.join("\n",
        "Sets KEY of configuration CONFIG (LIB/CELL/VIEW) to VALUE and saves it. Prints",
        "'KEY: OLD -> NEW'; the save's warnings go to standard error. When another program",
        "saved the configuration after zel read it, nothing is saved.",
        KEYS,
        "Options:",
        "  --dry-run        print what would change; save nothing",
        Zel.LIBS_HELP,
        "Exit status: 0 saved (or already so, or --dry-run); 1 refused: the library refused the",
        "change, the save failed or another program saved first (run it again); 2 the",
        "configuration cannot be opened for editing or a wrong command line.");
    static final String UNSET_HELP = String.join("\n",
        "Removes KEY from configuration CONFIG (LIB/CELL/VIEW) and saves it. Prints",
        "'KEY: OLD -> (none)'; nothing is saved when KEY is not set.",
        KEYS,
        "Options:",
        "  --dry-run        print what would change; save nothing",
        Zel.LIBS_HELP,
        "Exit status: as for zel set.");

    private static final List<String> CELL_PROPERTIES = List.of("view-binding", "views", "libs", "stop", "bind");
    private static final List<String> OCCURRENCE_PROPERTIES = List.of("bind", "stop");

    /** A KEY of the command line and the VALUE words after it. */
    static final class Key {
        ConfigFile.Rule rule;  // with the values given (set), or none
        List<String> values;

        String key() {
            return rule.key();
        }
    }

    private Settings() {
    }

    /** Parses KEY and the words after it. */
    static Key key(List<String> words, String command) throws WalkException {
        if (words.isEmpty()) throw new WalkException(2, "give the KEY to " + command + "; zel help " + command);
        String first = words.get(0);
        ConfigFile.Block block = ConfigFile.Block.SETTING;
        List<String> names = List.of();
        String property;
        int used;
        switch (first) {
            case "top":
            case "default-views":
            case "default-libs":
            case "default-stops":
            case "note":
                property = first;
                used = 1;
                break;
            case "constant":
                need(words, 2, "constant NAME", command);
                property = first;
                names = List.of(words.get(1));
                used = 2;
                break;
            case "cell":
                need(words, 4, "cell LIB CELL PROPERTY", command);
                block = ConfigFile.Block.CELL;
                names = Arrays.asList(any(words.get(1)), words.get(2));
                property = property(words.get(3), CELL_PROPERTIES, "a cell", command);
                used = 4;
                break;
            case "inst":
                need(words, 6, "inst LIB CELL VIEW INST PROPERTY", command);
                block = ConfigFile.Block.INST;
                names = Arrays.asList(any(words.get(1)), words.get(2), any(words.get(3)), words.get(4));
                property = property(words.get(5), CELL_PROPERTIES, "an instance", command);
                used = 6;
                break;
            case "occurrence": {
                int k = 1;
                while (k < words.size() && !OCCURRENCE_PROPERTIES.contains(words.get(k)) && !words.get(k).equals("views")) ++k;
                if (k == 1 || k == words.size()) {
                    throw new WalkException(2, "write occurrence I1 I2 ... bind|stop; zel help " + command);
                }
                block = ConfigFile.Block.OCCURRENCE;
                names = List.copyOf(words.subList(1, k));
                property = property(words.get(k), OCCURRENCE_PROPERTIES, "an occurrence", command);
                used = k + 1;
                break;
            }
            default:
                throw new WalkException(2, "unknown KEY '" + first + "'; zel help " + command);
        }
        Key key = new Key();
        key.values = List.copyOf(words.subList(used, words.size()));
        key.rule = new ConfigFile.Rule(block, names, property, List.of(), 0);
        return key;
    }

    private static void need(List<String> words, int n, String form, String command) throws WalkException {
        if (words.size() < n) throw new WalkException(2, "write " + form + "; zel help " + command);
    }

    private static String any(String name) {
        return name.equals("*") ? null : name;
    }

    private static String property(String word, List<String> known, String what, String command) throws WalkException {
        if (!known.contains(word)) {
            throw new WalkException(2, "'" + word + "' is no property of " + what + " that zel can " + command
                                       + "; it takes " + String.join(", ", known));
        }
        return word;
    }

    /** The rule of {@code key} in the file, or null; note lines joined. */
    private static ConfigFile.Rule find(ConfigFile file, Key key) {
        if (key.rule.property.equals("note")) {
            List<String> lines = new ArrayList<>();
            for (ConfigFile.Rule r : file.rules) if (r.property.equals("note")) lines.add(r.value());
            return lines.isEmpty() ? null : new ConfigFile.Rule(ConfigFile.Block.SETTING, List.of(), "note", lines, 0);
        }
        String wanted = key.key();
        for (ConfigFile.Rule r : file.rules) if (r.key().equals(wanted)) return r;
        return null;
    }

    // ---------------------------------------------------------------------------------------

    static int get(String[] args, Zel.Io io) throws WalkException, IOException {
        Zel.Line line = Zel.parse(args, "get", List.of(), List.of());
        Key key = key(line.words, "get");
        if (!key.values.isEmpty()) throw new WalkException(2, "zel get takes no VALUE; did you mean zel set?");
        ConfigFile.Rule rule;
        try (Zel.Opened opened = Zel.open(line, "r", io, Zel.warnings(io, "get"), 2)) {
            rule = find(opened.file(), key);
        }
        if (rule == null) {
            io.err.println(Zel.NAME + " get: " + key.key() + " is not set");
            return 1;
        }
        Zel.write(io, shown(rule) + "\n");
        return 0;
    }

    /** A value as get prints it: one value bare, several as the file writes them. */
    private static String shown(ConfigFile.Rule rule) {
        if (rule.property.equals("stop")) return "stop";
        if (rule.property.equals("note")) return String.join("\n", rule.values);
        if (rule.values.size() == 1) return rule.values.get(0) == null ? "-" : rule.values.get(0);
        return rule.valueText();
    }

    static int set(String[] args, Zel.Io io) throws WalkException, IOException {
        return change(args, io, "set");
    }

    static int unset(String[] args, Zel.Io io) throws WalkException, IOException {
        return change(args, io, "unset");
    }

    /** Hook for the tests: runs between the change and the save. */
    static Runnable beforeSave;

    private static int change(String[] args, Zel.Io io, String command) throws WalkException, IOException {
        Zel.Line line = Zel.parse(args, command, List.of("--dry-run"), List.of());
        boolean dryRun = line.flags.contains("--dry-run");
        Key key = key(line.words, command);
        boolean set = command.equals("set");
        checkValues(key, set, command);
        ZelWarningListener warnings = Zel.warnings(io, command);
        try (Zel.Opened opened = Zel.open(line, "a", io, warnings, 2)) {
            ConfigFile.Rule old = find(opened.file(), key);
            String before = old == null ? "(none)" : old.valueText().isEmpty() ? old.property : old.valueText();
            ConfigFile.Rule wanted = new ConfigFile.Rule(key.rule.block, key.rule.names, key.rule.property,
                                                         key.values, 0);
            String after = !set ? "(none)" : wanted.valueText().isEmpty() ? wanted.property : wanted.valueText();
            String what = key.key() + ": " + before + " -> " + after;
            if (set ? old != null && Objects.equals(old.values, key.values) : old == null) {
                Zel.write(io, key.key() + ": " + (set ? "already " + before : "not set") + "; nothing saved\n");
                return 0;
            }
            if (!apply(opened, key, set, warnings)) {
                throw new WalkException(1, "the library refused to " + command + " " + key.key()
                                           + (set ? " to " + after : "") + " (see the warning above, if any)");
            }
            if (dryRun) {
                Zel.write(io, "would change " + what + "\n");
                return 0;  // closing without a save keeps the file as it was
            }
            if (beforeSave != null) beforeSave.run();
            if (!opened.config.save(warnings)) {
                throw new WalkException(1, "not saved (see the warning above); " + opened.name + " is unchanged");
            }
            Zel.write(io, what + "\n");
            if (!set && key.rule.property.equals("constant")) stillReferenced(old, opened, io);
            return 0;
        }
    }

    /** Warns of the rules that still refer to a constant just removed. */
    private static void stillReferenced(ConfigFile.Rule constant, Zel.Opened opened, Zel.Io io) throws WalkException {
        String reference = "$(" + constant.names.get(0) + ")";
        for (ConfigFile.Rule r : opened.file().rules) {
            for (String v : r.values) {
                if (v != null && v.contains(reference)) {
                    io.err.println(Zel.NAME + " unset: warning: " + r + " (line " + r.line + ") still refers to "
                                   + reference + "; define the constant again or change the rule");
                    break;
                }
            }
        }
    }

    private static void checkValues(Key key, boolean set, String command) throws WalkException {
        String p = key.rule.property;
        int n = key.values.size();
        if (!set) {
            if (n > 0) throw new WalkException(2, "zel unset takes no VALUE after " + key.key());
            if (p.equals("top")) throw new WalkException(2, "the top cell cannot be unset; set another one");
            return;
        }
        int wanted;
        switch (p) {
            case "stop": wanted = 0; break;
            case "top": wanted = 3; break;
            case "bind": wanted = 3; break;
            case "note": wanted = -1; break;
            default: wanted = 1; break;
        }
        if (wanted >= 0 && n != wanted) {
            throw new WalkException(2, key.key() + " takes " + (wanted == 0 ? "no VALUE" : wanted == 1 ? "one VALUE (quote a list)" : wanted + " words")
                                       + ", not " + n);
        }
        if (wanted < 0 && n == 0) throw new WalkException(2, "give the note's lines; zel unset note removes it");
        if (p.equals("bind") && key.rule.block != ConfigFile.Block.OCCURRENCE) {
            for (String v : key.values) {
                if (!v.isEmpty()) {
                    throw new WalkException(2, "a " + key.rule.block.keyword + " rule binds only to open here (bind \"\" \"\" \"\");"
                                               + " to choose a view, set its view-binding");
                }
            }
        }
    }

    /** Makes the change in the open configuration; false when the library refuses it. */
    private static boolean apply(Zel.Opened opened, Key key, boolean set, ZelWarningListener warnings) throws WalkException {
        ZelConfig c = opened.config;
        List<String> n = key.rule.names;
        List<String> v = key.values;
        String value = v.isEmpty() ? null : v.get(0);
        switch (key.rule.block) {
            case SETTING:
                switch (key.rule.property) {
                    case "top": return c.setTopCellViewName(v.get(0), v.get(1), v.get(2));
                    case "default-views": return c.setDefaultViewListString(value);
                    case "default-libs": return c.setDefaultLibListString(value);
                    case "default-stops": return c.setDefaultStopListString(value);
                    case "constant": return set ? c.replaceConstant(n.get(0), value) : c.deleteConstant(n.get(0));
                    default: {  // note
                        if (!set) return c.deleteNote();
                        // replaceNoteLine replaces the last line only: the note is made anew.
                        c.deleteNote();  // false for a note that is empty already
                        boolean ok = true;
                        for (int i = 0; ok && i < v.size(); ++i) ok = c.addNoteLine(v.get(i));
                        return ok;
                    }
                }
            case CELL:
            case INST: {
                boolean cell = key.rule.block == ConfigFile.Block.CELL;
                String lib = n.get(0);
                String cellName = n.get(1);
                String view = cell ? null : n.get(2);
                String inst = cell ? null : n.get(3);
                switch (key.rule.property) {
                    case "view-binding":
                        if (cell) return set ? c.replaceCellViewBinding(lib, cellName, value) : c.deleteCellViewBinding(lib, cellName);
                        return set ? c.replaceInstViewBinding(lib, cellName, view, inst, value)
                                   : c.deleteInstViewBinding(lib, cellName, view, inst);
                    case "views":
                        if (cell) return set ? c.replaceCellViewList(lib, cellName, value) : c.deleteCellViewList(lib, cellName);
                        return set ? c.replaceInstViewList(lib, cellName, view, inst, value)
                                   : c.deleteInstViewList(lib, cellName, view, inst);
                    case "libs":
                        return set ? c.setInstLibList(lib, cellName, view, inst, value) : c.deleteInstLibList(lib, cellName, view, inst);
                    case "stop":
                        return c.setStopPointValue(lib, cellName, view, inst, set);
                    default:  // bind, to open
                        return c.setBindToOpen(lib, cellName, view, inst, set);
                }
            }
            default: {
                try (ZelPathVector pv = standAbove(opened, n, warnings)) {
                    String inst = n.get(n.size() - 1);
                    if (key.rule.property.equals("stop")) {
                        return c.setOccurStopPointValue(pv.pathvector, inst, null, null, null, set);
                    }
                    return set ? c.setOccurBinding(pv.pathvector, v.get(0), v.get(1), v.get(2), inst)
                               : c.deleteOccurBinding(pv.pathvector, inst);
                }
            }
        }
    }

    /**
     * A path vector standing in the cell view that holds the last instance of an occurrence
     * path: each instance above it bound as the walk binds it. The path must be in the design.
     */
    private static ZelPathVector standAbove(Zel.Opened opened, List<String> path, ZelWarningListener warnings)
            throws WalkException {
        ZelConfig c = opened.config;
        CellView level = new CellView(c.getTopLibName(), c.getTopCellName(), c.getTopViewName());
        ZelPathVector pv = ZelPathVector.create(c);
        boolean ok = false;
        try {
            if (pv.pathvector == 0 || level.cell == null || !pv.pushCell(level.lib, level.cell, level.view, null)) {
                throw new WalkException(1, "the top cell " + level + " was refused; check top");
            }
            Design design = new Design(opened.libraries, warnings, 10_000);
            for (int i = 0; i < path.size(); ++i) {
                String name = path.get(i);
                Design.Level below = design.level(level);
                DesignFile.Instance found = null;
                if (below.instances != null) {
                    for (DesignFile.Instance inst : below.instances) if (inst.name.equals(name)) found = inst;
                }
                String at = i == 0 ? "the top cell" : String.join("/", path.subList(0, i));
                if (found == null) {
                    throw new WalkException(1, "no such path: " + at + " (" + level + ") has no instance " + name
                                               + "; zel walk shows the paths");
                }
                if (i == path.size() - 1) break;
                pv.bind(name, found.master.lib, found.master.cell, found.master.view, true, true, false, warnings);
                if (pv.isUnbound()) throw new WalkException(1, String.join("/", path.subList(0, i + 1)) + " is bound to open: nothing below it");
                level = new CellView(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding());
                if (!pv.pushCell(level.lib, level.cell, level.view, name)) {
                    throw new WalkException(1, "the path vector refused to go into " + level);
                }
            }
            ok = true;
            return pv;
        } finally {
            if (!ok) pv.destroy();
        }
    }
}
