package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelRules;
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
        "  library LIB PROPERTY                 a library rule: views LIST, stops LIST",
        "  cell LIB|* CELL PROPERTY             a cell rule: view-binding VIEW, views LIST,",
        "                                       libs LIST, stop, bind LIB CELL VIEW",
        "  inst LIB|* CELL VIEW|* INST PROPERTY an instance rule: view-binding VIEW, views LIST,",
        "                                       libs LIST, stop, bind LIB CELL VIEW",
        "  occurrence I1 I2 ... PROPERTY        an occurrence rule, by the instance names from the",
        "                                       top: bind LIB CELL VIEW, stop, views LIST",
        "Without PROPERTY a library, cell, inst or occurrence KEY names its whole block (get prints",
        "its rules, unset removes them). bind \"\" \"\" \"\" binds to open.",
        "A LIST is one word: quote it, \"schematic symbol\". stop takes no VALUE.");

    static final String GET_HELP = String.join("\n",
        "Prints the value of KEY in configuration CONFIG (LIB/CELL/VIEW) as saved: a list as",
        "one line, several words (top, bind) as the file writes them; a stop prints 'stop'.",
        "A whole block prints one rule a line, as zel show does.",
        KEYS,
        "Options:",
        "  --json           the rules as a JSON array: kind, scope, property, values, key,",
        "                   text, comment, line",
        Zel.LIBS_HELP,
        "Exit status: 0 printed; 1 KEY is not set; 2 the configuration cannot be read or a",
        "wrong command line.");
    static final String SET_HELP = String.join("\n",
        "Sets KEY of configuration CONFIG (LIB/CELL/VIEW) to VALUE and saves it. Prints",
        "'KEY: OLD -> NEW'; the save's warnings go to standard error. When another program",
        "saved the configuration after zel read it, nothing is saved.",
        KEYS,
        "A name that neither the design nor the library definitions know (an instance, cell,",
        "view or library) is warned of on standard error, with the names close to it.",
        "Options:",
        "  --dry-run        print what would change; save nothing",
        "  --strict         a name warned of is an error: exit 1, nothing saved",
        Zel.LIBS_HELP,
        "Exit status: 0 saved (or already so, or --dry-run); 1 refused: the library refused the",
        "change, a name is unknown with --strict, the save failed or another program saved",
        "first (run it again); 2 the configuration cannot be opened for editing or a wrong",
        "command line.");
    static final String UNSET_HELP = String.join("\n",
        "Removes KEY from configuration CONFIG (LIB/CELL/VIEW) and saves it. Prints",
        "'KEY: OLD -> (none)'; nothing is saved when KEY is not set.",
        KEYS,
        "Options:",
        "  --dry-run        print what would change; save nothing",
        Zel.LIBS_HELP,
        "Exit status: as for zel set.");

    private static final List<String> CELL_PROPERTIES = List.of("view-binding", "views", "libs", "stop", "bind");
    private static final List<String> LIBRARY_PROPERTIES = List.of("views", "stops");
    private static final List<String> OCCURRENCE_PROPERTIES = List.of("bind", "stop", "views");

    /** A KEY of the command line and the VALUE words after it. */
    static final class Key {
        String kind;
        List<String> scope;   // null: '*'
        String property;      // null: a setting, or a whole block
        List<String> values;

        boolean block() {
            return property == null && !setting();
        }

        boolean setting() {
            return !kind.equals("library") && !kind.equals("cell") && !kind.equals("inst") && !kind.equals("occurrence");
        }

        ZelRules.Rule rule(List<String> with) {
            return new ZelRules.Rule(kind, scope, property, with, null, 0);
        }

        String key() {
            return rule(List.of()).key();
        }

        /** Whether a rule listed is this KEY's (one of them, for a block or the note). */
        boolean matches(ZelRules.Rule r) {
            if (!r.kind().equals(kind) || !r.scope().equals(scope)) return false;
            return property == null || property.equals(r.property());
        }
    }

    private Settings() {
    }

    /** Parses KEY and the words after it; a whole block only where {@code blockAllowed}. */
    static Key key(List<String> words, String command, boolean blockAllowed) throws WalkException {
        if (words.isEmpty()) throw new WalkException(2, "give the KEY to " + command + "; zel help " + command);
        String first = words.get(0);
        Key key = new Key();
        key.kind = first;
        key.scope = List.of();
        int used;
        switch (first) {
            case "top":
            case "default-views":
            case "default-libs":
            case "default-stops":
            case "note":
                used = 1;
                break;
            case "constant":
                need(words, 2, "constant NAME", command);
                key.scope = List.of(words.get(1));
                used = 2;
                break;
            case "library":
                used = block(words, 1, LIBRARY_PROPERTIES, "library LIB PROPERTY", "a library", command, blockAllowed, key);
                key.scope = List.copyOf(words.subList(1, 2));
                break;
            case "cell":
                used = block(words, 2, CELL_PROPERTIES, "cell LIB CELL PROPERTY", "a cell", command, blockAllowed, key);
                key.scope = Arrays.asList(any(words.get(1)), words.get(2));
                break;
            case "inst":
                used = block(words, 4, CELL_PROPERTIES, "inst LIB CELL VIEW INST PROPERTY", "an instance", command,
                             blockAllowed, key);
                key.scope = Arrays.asList(any(words.get(1)), words.get(2), any(words.get(3)), words.get(4));
                break;
            case "occurrence": {
                int k = 1;
                while (k < words.size() && !OCCURRENCE_PROPERTIES.contains(words.get(k))) ++k;
                if (k == 1 || (k == words.size() && !blockAllowed)) {
                    throw new WalkException(2, "write occurrence I1 I2 ... bind|stop|views; zel help " + command);
                }
                key.scope = List.copyOf(words.subList(1, k));
                key.property = k < words.size() ? words.get(k) : null;
                used = Math.min(k + 1, words.size());
                break;
            }
            default:
                throw new WalkException(2, "unknown KEY '" + first + "'; zel help " + command);
        }
        key.values = List.copyOf(words.subList(used, words.size()));
        return key;
    }

    // The property after `names` names of a block, or none (the whole block) when the words end there.
    private static int block(List<String> words, int names, List<String> known, String form, String what,
                             String command, boolean blockAllowed, Key key) throws WalkException {
        if (words.size() == names + 1 && blockAllowed) return names + 1;
        need(words, names + 2, form, command);
        key.property = property(words.get(names + 1), known, what, command);
        return names + 2;
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

    /** The rules of {@code key} in the configuration as listed: one, the lines of the note, or a block's. */
    private static List<ZelRules.Rule> find(ZelConfig config, Key key) {
        List<ZelRules.Rule> found = new ArrayList<>();
        for (ZelRules.Rule r : ZelRules.list(config)) if (key.matches(r)) found.add(r);
        return found;
    }

    // ---------------------------------------------------------------------------------------

    static int get(String[] args, Zel.Io io) throws WalkException, IOException {
        Zel.Line line = Zel.parse(args, "get", List.of("--json"), List.of());
        Key key = key(line.words, "get", true);
        if (!key.values.isEmpty()) throw new WalkException(2, "zel get takes no VALUE; did you mean zel set?");
        List<ZelRules.Rule> rules;
        try (Zel.Opened opened = Zel.open(line, "r", io, Zel.warnings(io, "get"))) {
            rules = find(opened.config, key);
        }
        if (line.flags.contains("--json")) {
            StringBuilder b = new StringBuilder("[");
            for (int i = 0; i < rules.size(); ++i) b.append(i == 0 ? "\n  " : ",\n  ").append(Show.json(rules.get(i)));
            Zel.write(io, b.append(rules.isEmpty() ? "]\n" : "\n]\n").toString());
            return rules.isEmpty() ? Zel.FOUND : Zel.DONE;
        }
        if (rules.isEmpty()) {
            io.err.println(Zel.NAME + " get: " + key.key() + " is not set");
            return Zel.FOUND;
        }
        StringBuilder b = new StringBuilder();
        if (key.block()) {
            for (ZelRules.Rule r : rules) b.append(r).append('\n');
        } else if (key.kind.equals("note")) {
            for (ZelRules.Rule r : rules) b.append(r.value()).append('\n');
        } else {
            b.append(shown(rules.get(0))).append('\n');
        }
        Zel.write(io, b.toString());
        return 0;
    }

    /** A value as get prints it: one value bare, several as the file writes them. */
    private static String shown(ZelRules.Rule rule) {
        if ("stop".equals(rule.property())) return "stop";
        if (rule.values().size() == 1) return rule.values().get(0) == null ? "-" : rule.values().get(0);
        return rule.valueText();
    }

    /** What a KEY holds, as set prints it before and after. */
    private static String described(Key key, List<ZelRules.Rule> rules) {
        if (rules.isEmpty()) return "(none)";
        if (key.block()) return rules.size() == 1 ? rules.get(0).property() + " " + rules.get(0).valueText()
                                                  : rules.size() + " rules";
        if (key.kind.equals("note")) {
            List<String> lines = new ArrayList<>();
            for (ZelRules.Rule r : rules) lines.add(ZelRules.word(r.value()));
            return String.join(" ", lines);
        }
        String v = rules.get(0).valueText();
        return v.isEmpty() ? rules.get(0).property() : v;
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
        boolean set = command.equals("set");
        Zel.Line line = Zel.parse(args, command, set ? List.of("--dry-run", "--strict") : List.of("--dry-run"), List.of());
        boolean dryRun = line.flags.contains("--dry-run");
        Key key = key(line.words, command, !set);
        checkValues(key, set, command);
        ZelWarningListener warnings = Zel.warnings(io, command);
        try (Zel.Opened opened = Zel.open(line, "a", io, warnings)) {
            List<ZelRules.Rule> old = find(opened.config, key);
            String before = described(key, old);
            ZelRules.Rule wanted = key.rule(key.values);
            String after = !set ? "(none)" : key.kind.equals("note") ? String.join(" ", quoted(key.values))
                           : wanted.valueText().isEmpty() ? wanted.property() : wanted.valueText();
            String what = key.key() + ": " + before + " -> " + after;
            boolean same = set ? !old.isEmpty() && sameValues(key, old) : old.isEmpty();
            if (set) {
                if (key.kind.equals("occurrence")) standAbove(opened, key.scope, warnings).destroy();
                int unknown = Names.check(opened, key, io);
                if (unknown > 0 && line.flags.contains("--strict")) {
                    throw new WalkException(Zel.UNCHANGED, key.key() + ": " + unknown + (unknown == 1 ? " name" : " names")
                                               + " unknown (see above); nothing saved (--strict)");
                }
            }
            if (same) {
                Zel.write(io, key.key() + ": " + (set ? "already " + before : "not set") + "; nothing saved\n");
                return 0;
            }
            boolean done = set ? ZelRules.set(opened.config, key.kind, key.scope, key.property, key.values, warnings)
                               : ZelRules.remove(opened.config, key.kind, key.scope, key.property, warnings);
            if (!done) {
                throw new WalkException(Zel.UNCHANGED, "the library refused to " + command + " " + key.key()
                                           + (set ? " to " + after : "") + " (see the warning above, if any)");
            }
            if (dryRun) {
                Zel.write(io, "would change " + what + "\n");
                return 0;  // closing without a save keeps the file as it was
            }
            if (beforeSave != null) beforeSave.run();
            if (!opened.config.save(warnings)) {
                throw new WalkException(Zel.UNCHANGED, "not saved (see the warning above); " + opened.name + " is unchanged");
            }
            Zel.write(io, what + "\n");
            if (!set && key.kind.equals("constant")) stillReferenced(key.scope.get(0), opened, io);
            return 0;
        }
    }

    private static List<String> quoted(List<String> values) {
        List<String> out = new ArrayList<>();
        for (String v : values) out.add(ZelRules.word(v));
        return out;
    }

    private static boolean sameValues(Key key, List<ZelRules.Rule> old) {
        if (key.kind.equals("note")) {
            List<String> lines = new ArrayList<>();
            for (ZelRules.Rule r : old) lines.add(r.value());
            return lines.equals(key.values);
        }
        return Objects.equals(old.get(0).values(), key.values);
    }

    /** Warns of the rules that still refer to a constant just removed. */
    private static void stillReferenced(String name, Zel.Opened opened, Zel.Io io) {
        String reference = "$(" + name + ")";
        for (ZelRules.Rule r : ZelRules.list(opened.config)) {
            for (String v : r.values()) {
                if (v != null && v.contains(reference)) {
                    io.err.println(Zel.NAME + " unset: warning: " + r + (r.line() > 0 ? " (line " + r.line() + ")" : "")
                                   + " still refers to " + reference + "; define the constant again or change the rule");
                    break;
                }
            }
        }
    }

    private static void checkValues(Key key, boolean set, String command) throws WalkException {
        String p = key.property != null ? key.property : key.kind;
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
    }

    /**
     * A path vector standing in the cell view that holds the last instance of an occurrence
     * path: each instance above it bound as the walk binds it. The path must be in the design.
     */
    static ZelPathVector standAbove(Zel.Opened opened, List<String> path, ZelWarningListener warnings)
            throws WalkException {
        ZelConfig c = opened.config;
        CellView level = new CellView(c.getTopLibName(), c.getTopCellName(), c.getTopViewName());
        ZelPathVector pv = ZelPathVector.create(c);
        boolean ok = false;
        try {
            if (pv.pathvector == 0 || level.cell == null || !pv.pushCell(level.lib, level.cell, level.view, null)) {
                throw new WalkException(Zel.UNCHANGED, "the top cell " + level + " was refused; check top");
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
                    throw new WalkException(Zel.UNCHANGED, "no such path: " + at + " (" + level + ") has no instance " + name
                                               + "; zel walk shows the paths");
                }
                if (i == path.size() - 1) break;
                pv.bind(name, found.master.lib, found.master.cell, found.master.view, true, true, false, warnings);
                if (pv.isUnbound()) throw new WalkException(Zel.UNCHANGED, String.join("/", path.subList(0, i + 1)) + " is bound to open: nothing below it");
                level = new CellView(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding());
                if (!pv.pushCell(level.lib, level.cell, level.view, name)) {
                    throw new WalkException(Zel.UNCHANGED, "the path vector refused to go into " + level);
                }
            }
            ok = true;
            return pv;
        } finally {
            if (!ok) pv.destroy();
        }
    }
}
