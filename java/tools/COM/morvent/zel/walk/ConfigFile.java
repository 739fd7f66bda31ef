package COM.morvent.zel.walk;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The rules and settings of a configuration file (config.zel), one entry per property, as a
 * person reads the file. The bridge answers questions about given names but cannot list the
 * rules it holds, so the lint and {@code zel show} read them here. A later property of the same
 * block replaces an earlier one, as the library reads it; note lines add up.
 */
public final class ConfigFile {
    /** The file in a configuration's view directory. */
    public static final String FILE_NAME = "config.zel";

    /** What a rule's block is. */
    public enum Block {
        SETTING(""), LIBRARY("library"), CELL("cell"), INST("inst"), OCCURRENCE("occurrence");

        public final String keyword;

        Block(String keyword) {
            this.keyword = keyword;
        }
    }

    /** One setting, or one property of a rule block. */
    public static final class Rule {
        public final Block block;
        /**
         * The block's names: LIB; LIB CELL; LIB CELL VIEW INST; the occurrence's instance names.
         * A null name is '*' (any). For a constant, its name; empty for the other settings.
         */
        public final List<String> names;
        /** The property (views, stops, view-binding, bind, libs, stop) or the setting's keyword. */
        public final String property;
        /** The values after it; a null value is '-' (none). */
        public final List<String> values;
        /** Its line in the file, from 1. */
        public final int line;

        public Rule(Block block, List<String> names, String property, List<String> values, int line) {
            this.block = block;
            this.names = names;
            this.property = property;
            this.values = values;
            this.line = line;
        }

        /** The block as the file writes it: {@code cell * inv}; empty for a setting. */
        public String head() {
            if (block == Block.SETTING) return "";
            StringBuilder b = new StringBuilder(block.keyword);
            for (String name : names) b.append(' ').append(name == null ? "*" : word(name));
            return b.toString();
        }

        /** The value words as the file writes them. */
        public String valueText() {
            StringBuilder b = new StringBuilder();
            for (String value : values) {
                if (b.length() > 0) b.append(' ');
                b.append(value == null ? "-" : word(value));
            }
            return b.toString();
        }

        /** The key of the rule without its value: {@code cell * inv view-binding}, {@code constant X}. */
        public String key() {
            if (block == Block.SETTING) {
                return names.isEmpty() ? property : property + " " + word(names.get(0));
            }
            return head() + " " + property;
        }

        /** The rule as a person names it: {@code cell * inv: view-binding behavioral}. */
        @Override
        public String toString() {
            String value = valueText();
            if (block == Block.SETTING) return value.isEmpty() ? key() : key() + " " + value;
            return head() + ": " + (value.isEmpty() ? property : property + " " + value);
        }

        /** The single value, or null. */
        public String value() {
            return values.isEmpty() ? null : values.get(0);
        }

        /** Whether it binds to open: {@code bind "" "" ""} or {@code bind - - -}. */
        public boolean bindsToOpen() {
            if (!property.equals("bind")) return false;
            for (String v : values) if (v != null && !v.isEmpty()) return false;
            return true;
        }
    }

    /** The file's location statement, LIB CELL VIEW, or null. */
    public final List<String> location;
    /** Every rule and setting in the order of the canonical form. */
    public final List<Rule> rules;

    private ConfigFile(List<String> location, List<Rule> rules) {
        this.location = location;
        this.rules = rules;
    }

    /** The file of a configuration in the design libraries, or null when its library is not defined. */
    public static Path fileOf(LibraryDefinitions libraries, CellView config) {
        Path lib = libraries.directory(config.lib);
        if (lib == null || !LibraryDefinitions.isPathComponent(config.cell)
                || !LibraryDefinitions.isPathComponent(config.view)) {
            return null;
        }
        return lib.resolve(config.cell).resolve(config.view).resolve(FILE_NAME);
    }

    /** Reads a configuration file. */
    public static ConfigFile read(Path file) throws WalkException {
        String text;
        try {
            text = new String(Files.readAllBytes(file), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new WalkException(1, file + ": cannot read it (" + e.getMessage() + ")");
        }
        try {
            return parse(file.toString(), text);
        } catch (DesignFile.DesignFileException e) {
            throw new WalkException(1, e.getMessage());
        }
    }

    /** The rules of a configuration file's text; {@code where} names it in messages. */
    public static ConfigFile parse(String where, String text) throws DesignFile.DesignFileException {
        if (text.startsWith("\uFEFF")) text = text.substring(1);
        Map<String, Rule> byKey = new LinkedHashMap<>();
        List<Rule> notes = new ArrayList<>();
        List<String> location = null;
        Block block = null;
        List<String> names = null;
        String[] lines = text.split("\r?\n", -1);
        for (int number = 1; number <= lines.length; ++number) {
            String line = lines[number - 1];
            List<DesignFile.Word> words = DesignFile.words(where, number, line);
            if (words.isEmpty()) continue;
            String kw = words.get(0).text;
            boolean indented = line.charAt(0) == ' ' || line.charAt(0) == '\t';
            if (indented) {
                if (block == null) {
                    throw new DesignFile.DesignFileException(where + ":" + number + ": an indented property outside a block");
                }
                Rule rule = new Rule(block, names, kw, values(words, 1), number);
                byKey.put(rule.key(), rule);
                continue;
            }
            block = null;
            switch (kw) {
                case "zelvek-config":
                case "revision":
                    break;
                case "location":
                    location = values(words, 1);
                    break;
                case "top":
                case "default-views":
                case "default-libs":
                case "default-stops": {
                    Rule rule = new Rule(Block.SETTING, List.of(), kw, values(words, 1), number);
                    byKey.put(rule.key(), rule);
                    break;
                }
                case "constant": {
                    if (words.size() < 2) break;
                    Rule rule = new Rule(Block.SETTING, List.of(words.get(1).text), kw, values(words, 2), number);
                    byKey.put(rule.key(), rule);
                    break;
                }
                case "note":
                    notes.add(new Rule(Block.SETTING, List.of(), kw, values(words, 1), number));
                    break;
                case "library":
                    block = Block.LIBRARY;
                    break;
                case "cell":
                    block = Block.CELL;
                    break;
                case "inst":
                    block = Block.INST;
                    break;
                case "occurrence":
                    block = Block.OCCURRENCE;
                    break;
                default:
                    throw new DesignFile.DesignFileException(where + ":" + number + ": unknown statement '" + kw + "'");
            }
            if (block != null) {
                List<String> n = new ArrayList<>();
                for (int i = 1; i < words.size(); ++i) {
                    DesignFile.Word w = words.get(i);
                    n.add(!w.quoted && w.text.equals("*") && block != Block.OCCURRENCE ? null : w.text);
                }
                names = Collections.unmodifiableList(n);
            }
        }
        List<Rule> rules = new ArrayList<>(byKey.values());
        // Notes come right after the constants, in their order.
        rules.addAll(notes);
        rules.sort(CANONICAL);
        return new ConfigFile(location, Collections.unmodifiableList(rules));
    }

    private static List<String> values(List<DesignFile.Word> words, int from) {
        List<String> values = new ArrayList<>();
        for (int i = from; i < words.size(); ++i) {
            DesignFile.Word w = words.get(i);
            values.add(!w.quoted && w.text.equals("-") ? null : w.text);
        }
        return Collections.unmodifiableList(values);
    }

    private static final List<String> SETTING_ORDER =
        List.of("top", "default-views", "default-libs", "default-stops", "constant", "note");
    private static final List<String> LIBRARY_ORDER = List.of("views", "stops");
    private static final List<String> CELL_ORDER = List.of("bind", "view-binding", "views", "libs", "stop");
    private static final List<String> INST_ORDER = List.of("view-binding", "views", "libs", "stop", "bind");
    private static final List<String> OCCURRENCE_ORDER = List.of("bind", "stop", "views");

    /**
     * The order of the library's canonical form: settings, constants and note lines (each in
     * the file's order), library rules, then each cell's rule followed by its instance rules (any
     * view first), then the occurrences depth first; names by their bytes.
     */
    static final Comparator<Rule> CANONICAL = (a, b) -> {
        int c = Integer.compare(group(a), group(b));
        if (c != 0) return c;
        switch (a.block) {
            case SETTING:
                c = Integer.compare(SETTING_ORDER.indexOf(a.property), SETTING_ORDER.indexOf(b.property));
                return c != 0 ? c : Integer.compare(a.line, b.line);
            case LIBRARY:
                c = bytes(a.names.get(0), b.names.get(0));
                return c != 0 ? c : Integer.compare(LIBRARY_ORDER.indexOf(a.property), LIBRARY_ORDER.indexOf(b.property));
            case OCCURRENCE:
                c = names(a.names, b.names);
                return c != 0 ? c : Integer.compare(OCCURRENCE_ORDER.indexOf(a.property), OCCURRENCE_ORDER.indexOf(b.property));
            default: {
                // Cells and their instance rules: by library (any first) and cell, the cell rule first.
                c = bytes(a.names.get(0), b.names.get(0));
                if (c == 0) c = bytes(a.names.get(1), b.names.get(1));
                if (c == 0) c = Integer.compare(a.block.ordinal(), b.block.ordinal());
                if (c != 0) return c;
                if (a.block == Block.CELL) return Integer.compare(CELL_ORDER.indexOf(a.property), CELL_ORDER.indexOf(b.property));
                c = bytes(a.names.get(2), b.names.get(2));
                if (c == 0) c = bytes(a.names.get(3), b.names.get(3));
                return c != 0 ? c : Integer.compare(INST_ORDER.indexOf(a.property), INST_ORDER.indexOf(b.property));
            }
        }
    };

    private static int group(Rule r) {
        switch (r.block) {
            case SETTING: return 0;
            case LIBRARY: return 1;
            case OCCURRENCE: return 3;
            default: return 2;
        }
    }

    // Any (null) first, then by UTF-8 bytes.
    private static int bytes(String a, String b) {
        if (a == null || b == null) return a == null ? (b == null ? 0 : -1) : 1;
        return Arrays.compareUnsigned(a.getBytes(StandardCharsets.UTF_8), b.getBytes(StandardCharsets.UTF_8));
    }

    // Paths depth first: a path before the paths below it.
    private static int names(List<String> a, List<String> b) {
        for (int i = 0; i < Math.min(a.size(), b.size()); ++i) {
            int c = bytes(a.get(i), b.get(i));
            if (c != 0) return c;
        }
        return Integer.compare(a.size(), b.size());
    }

    /** A name or value as the file writes it: bare when that reads back the same, else quoted. */
    public static String word(String text) {
        boolean bare = !text.isEmpty() && !text.equals("-") && !text.equals("*") && text.charAt(0) != '#';
        for (int i = 0; bare && i < text.length(); ++i) {
            char c = text.charAt(i);
            if (c <= ' ' || c == '"' || c == '\\' || c == 0x7f) bare = false;
        }
        if (bare) return text;
        StringBuilder b = new StringBuilder("\"");
        text.codePoints().forEach(cp -> {
            switch (cp) {
                case '"': b.append("\\\""); break;
                case '\\': b.append("\\\\"); break;
                case '\n': b.append("\\n"); break;
                case '\t': b.append("\\t"); break;
                case '\r': b.append("\\r"); break;
                default:
                    if (cp < 0x20 || cp == 0x7f) b.append("\\u{").append(Integer.toHexString(cp).toUpperCase(java.util.Locale.ROOT)).append('}');
                    else b.appendCodePoint(cp);
            }
        });
        return b.append('"').toString();
    }
}
