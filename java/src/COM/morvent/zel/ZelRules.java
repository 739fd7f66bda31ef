package COM.morvent.zel;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Locale;

/**
 * The rules of an open configuration as its file writes them: every rule and setting listed in
 * the order of the file, and any of them set or removed by the words the file gives it. Library
 * rules, occurrence view lists and whole rule blocks included, which the methods of
 * {@link ZelConfig} do not reach. The library definitions are answered here too, so that a
 * program needs no reader of its own for either file.
 *
 * <p>A rule is named by its <em>kind</em>, its <em>scope</em> and, inside a block, its
 * <em>property</em>:
 * <ul>
 * <li>{@code top} (no scope): LIB CELL VIEW;
 * <li>{@code default-views}, {@code default-libs}, {@code default-stops} (no scope): LIST;
 * <li>{@code constant} NAME: VALUE;
 * <li>{@code note} (no scope): one line each as listed, every line when set;
 * <li>{@code library} LIB: {@code views} LIST, {@code stops} LIST;
 * <li>{@code cell} LIB|* CELL: {@code view-binding} VIEW, {@code bind} LIB CELL VIEW, {@code views}
 *     LIST, {@code libs} LIST, {@code stop};
 * <li>{@code inst} LIB|* CELL VIEW|* INST: as for a cell;
 * <li>{@code occurrence} I1 ... In (instance names from the top): {@code bind} LIB CELL VIEW,
 *     {@code stop}, {@code views} LIST.
 * </ul>
 * A {@code null} name in a scope stands for {@code *} (any library, any view); a {@code null}
 * value for {@code -} (no value), and {@code bind "" "" ""} binds to open.
 *
 * <p>These methods go through the same door as those of {@link ZelConfig}: each holds the
 * configuration's lock for its call, and one called from inside a warning listener answers its
 * neutral result (an empty list, {@code false}) and changes nothing. A configuration that is not
 * open gives the same neutral results. An edit leaves the configuration modified, as the
 * methods of {@link ZelConfig} do; {@link ZelConfig#save(ZelWarningListener)} writes it, keeping
 * the shape of its file: lines that say the same are written as they were.
 */
public final class ZelRules {
    static {
        ZelLibrary.ensureLoaded();
    }

    private ZelRules() {
    }

    /** One rule or setting of a configuration, as its file writes it. */
    public static final class Rule {
        private final String kind;
        private final List<String> scope;
        private final String property;
        private final List<String> values;
        private final String comment;
        private final int line;

        /**
         * A rule by its words (for a rule to set or compare; the listing makes its own).
         *
         * @param kind     the statement: top, default-views, ..., library, cell, inst, occurrence
         * @param scope    the names after the statement, {@code null} for {@code *}
         * @param property the property inside a block, {@code null} for a setting
         * @param values   the values, {@code null} for {@code -}
         * @param comment  the comment lines written with it, {@code null} for none
         * @param line     the line of the file it came from, 0 for none
         */
        public Rule(String kind, List<String> scope, String property, List<String> values, String comment,
                    int line) {
            if (kind == null) throw new NullPointerException("kind");
            this.kind = kind;
            this.scope = Collections.unmodifiableList(new ArrayList<String>(scope));
            this.property = property;
            this.values = Collections.unmodifiableList(new ArrayList<String>(values));
            this.comment = comment;
            this.line = line;
        }

        /** @return the statement: top, default-views, ..., constant, note, library, cell, inst, occurrence */
        public String kind() {
            return kind;
        }

        /** @return the names after the statement; {@code null} stands for {@code *} */
        public List<String> scope() {
            return scope;
        }

        /** @return the property inside a block (views, stops, view-binding, bind, libs, stop); null for a setting */
        public String property() {
            return property;
        }

        /** @return the values; {@code null} stands for {@code -} */
        public List<String> values() {
            return values;
        }

        /** @return the single value, or null */
        public String value() {
            return values.isEmpty() ? null : values.get(0);
        }

        /**
         * @return the comment lines a person wrote above it (above its block, for the first rule
         *         of a block) and at the end of its line, each from its {@code #}, one a line;
         *         {@code null} for none
         */
        public String comment() {
            return comment;
        }

        /** @return the line of the file it came from (as read or last saved); 0 for a rule not yet saved */
        public int line() {
            return line;
        }

        /** @return whether it is a setting rather than a rule of a block */
        public boolean isSetting() {
            return property == null;
        }

        /**
         * The rule without its value, in the words the file writes: {@code cell * inv view-binding},
         * {@code constant TECH}, {@code default-views}.
         *
         * @return the key
         */
        public String key() {
            StringBuilder b = new StringBuilder(kind);
            for (String name : scope) b.append(' ').append(name == null ? "*" : word(name));
            if (property != null) b.append(' ').append(property);
            return b.toString();
        }

        /** @return the values as the file writes them, separated by blanks */
        public String valueText() {
            StringBuilder b = new StringBuilder();
            for (String value : values) {
                if (b.length() > 0) b.append(' ');
                b.append(value == null ? "-" : word(value));
            }
            return b.toString();
        }

        /** @return whether it is a {@code bind} to open: every value empty or {@code -} */
        public boolean bindsToOpen() {
            if (!"bind".equals(property)) return false;
            for (String v : values) if (v != null && !v.isEmpty()) return false;
            return true;
        }

        /**
         * @param other another rule
         * @return whether it names the same rule (kind, scope and property) as other
         */
        public boolean sameRule(Rule other) {
            return kind.equals(other.kind) && scope.equals(other.scope)
                   && (property == null ? other.property == null : property.equals(other.property));
        }

        /** @return the key and the values, as one line of {@code zel show} */
        @Override
        public String toString() {
            String v = valueText();
            return v.isEmpty() ? key() : key() + " " + v;
        }
    }

    /** A library of the library definitions. */
    public static final class Library {
        private final String name;
        private final String folder;

        Library(String name, String folder) {
            this.name = name;
            this.folder = folder;
        }

        /** @return the library's name */
        public String name() {
            return name;
        }

        /** @return its folder, as the definitions name it (relative names made absolute) */
        public String folder() {
            return folder;
        }

        @Override
        public String toString() {
            return name + " " + folder;
        }
    }

    /**
     * Every rule and setting of an open configuration, in the order of its file: the file's own
     * order for what it holds, and rules not yet saved where a save will write them (after the
     * last rule of their kind that sorts before them, a property in its block). Note lines are
     * listed one each.
     *
     * @param config an open configuration
     * @return the rules; empty when the configuration is not open
     */
    public static List<Rule> list(ZelConfig config) {
        String[] flat = listRules(requireConfig(config));
        List<Rule> rules = new ArrayList<Rule>();
        if (flat == null) return rules;
        int i = 0;
        while (i < flat.length) {
            String kind = flat[i++];
            String property = flat[i++];
            int line = Integer.parseInt(flat[i++]);
            String comment = flat[i++];
            int n = Integer.parseInt(flat[i++]);
            List<String> scope = Arrays.asList(Arrays.copyOfRange(flat, i, i + n));
            i += n;
            int m = Integer.parseInt(flat[i++]);
            List<String> values = Arrays.asList(Arrays.copyOfRange(flat, i, i + m));
            i += m;
            rules.add(new Rule(kind, scope, property, values, comment, line));
        }
        return rules;
    }

    /**
     * Sets one rule. For the note, {@code values} are its lines; {@code bind "" "" ""} binds to
     * open.
     *
     * @param config   an open configuration
     * @param kind     the statement (see the class description)
     * @param scope    the names after it, {@code null} for {@code *}
     * @param property the property inside a block; {@code null} for a setting
     * @param values   the values, {@code null} for {@code -}
     * @param listener receives why a rule was refused, or {@code null}
     * @return {@code true} when it was set; {@code false} when the names or values do not make
     *         a rule (the listener is told why) or the configuration is not open
     */
    public static boolean set(ZelConfig config, String kind, List<String> scope, String property,
                              List<String> values, ZelWarningListener listener) {
        return setRule(requireConfig(config), kind, array(scope), property, array(values), listener);
    }

    /**
     * {@link #set(ZelConfig, String, List, String, List, ZelWarningListener)} with a rule's words.
     *
     * @param config   an open configuration
     * @param rule     the rule and its values
     * @param listener receives why a rule was refused, or {@code null}
     * @return {@code true} when it was set
     */
    public static boolean set(ZelConfig config, Rule rule, ZelWarningListener listener) {
        return set(config, rule.kind(), rule.scope(), rule.property(), rule.values(), listener);
    }

    /**
     * Removes one rule, or with a {@code null} property every rule of a block ({@code inst lib
     * alu * NEG}): the lines go from the file at the next save, their comments with them.
     *
     * @param config   an open configuration
     * @param kind     the statement
     * @param scope    the names after it, {@code null} for {@code *}
     * @param property the property; {@code null}: the whole block, or the setting
     * @param listener receives why the names were refused, or {@code null}
     * @return {@code true} when something was removed; {@code false} when nothing was set (or
     *         the names make no rule: the listener is told why)
     */
    public static boolean remove(ZelConfig config, String kind, List<String> scope, String property,
                                 ZelWarningListener listener) {
        return removeRule(requireConfig(config), kind, array(scope), property, listener);
    }

    /**
     * {@link #remove(ZelConfig, String, List, String, ZelWarningListener)} with a rule's words.
     *
     * @param config   an open configuration
     * @param rule     the rule (its values do not matter)
     * @param listener receives why the names were refused, or {@code null}
     * @return {@code true} when something was removed
     */
    public static boolean remove(ZelConfig config, Rule rule, ZelWarningListener listener) {
        return remove(config, rule.kind(), rule.scope(), rule.property(), listener);
    }

    /**
     * Gives a rule of a block that is set the comment it had, as {@link Rule#comment()} lists it
     * (one line each, from its {@code #}): a save writes it above the rule's block when the file
     * does not hold the block yet, else above the rule's line. A rule removed and set again
     * before a save keeps its comment anyway; this brings it back after a save dropped it.
     *
     * @param config   an open configuration
     * @param rule     the rule and its comment
     * @param listener receives why the names were refused, or {@code null}
     * @return {@code true} when the comment was given; {@code false} when the rule has none, is
     *         a setting or is not set, or its line has its place and comment in the file already
     */
    public static boolean setComment(ZelConfig config, Rule rule, ZelWarningListener listener) {
        if (rule.comment() == null || rule.isSetting()) return false;
        return setRuleComment(requireConfig(config), rule.kind(), array(rule.scope()), rule.property(), rule.comment(),
                              listener);
    }

    /**
     * The libraries of the definitions that {@link ZelConfig#init(String)} read, sorted by name.
     *
     * @return the libraries; empty before {@code init}
     */
    public static List<Library> libraries() {
        String[] flat = listLibraries(0);
        List<Library> libraries = new ArrayList<Library>();
        if (flat == null) return libraries;
        for (int i = 0; i + 1 < flat.length; i += 2) libraries.add(new Library(flat[i], flat[i + 1]));
        return libraries;
    }

    /**
     * What was wrong in the definitions that {@link ZelConfig#init(String)} read (a missing
     * folder, a library defined twice, a line not understood), each as the warning says it.
     *
     * @return the problems; empty when there were none
     */
    public static List<String> definitionProblems() {
        String[] flat = listLibraries(1);
        return flat == null ? new ArrayList<String>() : new ArrayList<String>(Arrays.asList(flat));
    }

    /**
     * A name or value as the configuration file writes it: bare when that reads back the same,
     * otherwise in quotes with escapes.
     *
     * @param text a name or value
     * @return its word
     */
    public static String word(String text) {
        boolean bare = !text.isEmpty() && !text.equals("-") && !text.equals("*") && text.charAt(0) != '#';
        for (int i = 0; bare && i < text.length(); ) {
            int cp = text.codePointAt(i);
            i += Character.charCount(cp);
            if (cp <= ' ' || cp == '"' || cp == '\\' || special(cp) || spaceLike(cp)) bare = false;
        }
        if (bare) return text;
        StringBuilder b = new StringBuilder("\"");
        for (int i = 0; i < text.length(); ) {
            int cp = text.codePointAt(i);
            i += Character.charCount(cp);
            switch (cp) {
                case '"': b.append("\\\""); break;
                case '\\': b.append("\\\\"); break;
                case '\n': b.append("\\n"); break;
                case '\t': b.append("\\t"); break;
                case '\r': b.append("\\r"); break;
                default:
                    if (special(cp)) {
                        b.append("\\u{").append(Integer.toHexString(cp).toUpperCase(Locale.ROOT)).append('}');
                    } else {
                        b.appendCodePoint(cp);
                    }
            }
        }
        return b.append('"').toString();
    }

    // As the library writes them: control characters, surrogates alone, line and paragraph
    // separators and the byte-order mark are escaped; blanks of other scripts quoted.
    private static boolean special(int cp) {
        return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || (cp >= 0xD800 && cp <= 0xDFFF)
               || cp == 0x2028 || cp == 0x2029 || cp == 0xFEFF;
    }

    private static boolean spaceLike(int cp) {
        return cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F
               || cp == 0x3000;
    }

    private static ZelConfig requireConfig(ZelConfig config) {
        if (config == null) throw new NullPointerException("config");
        return config;
    }

    private static String[] array(List<String> list) {
        return list == null ? new String[0] : list.toArray(new String[0]);
    }

    /** Flat: kind, property, line, comment, scope count, scope..., value count, values... per rule. */
    private static native String[] listRules(ZelConfig config);

    private static native boolean setRule(ZelConfig config, String kind, String[] scope, String property,
                                          String[] values, Object listener);

    private static native boolean removeRule(ZelConfig config, String kind, String[] scope, String property,
                                             Object listener);

    private static native boolean setRuleComment(ZelConfig config, String kind, String[] scope, String property,
                                                 String comment, Object listener);

    /** 0: name, folder pairs; 1: the problems. */
    private static native String[] listLibraries(int which);
}
