package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelRules;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * The rules and settings of an open configuration, one entry per property, in the order of its
 * file, as the library lists them ({@link ZelRules#list}): the configuration as edited, saved
 * or not. Note lines are one entry each.
 */
public final class ConfigFile {
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
        /** Its line in the file, from 1; 0 for a rule not saved yet. */
        public final int line;
        /** The comment lines written with it, or null. */
        public final String comment;

        public Rule(Block block, List<String> names, String property, List<String> values, int line) {
            this(block, names, property, values, line, null);
        }

        public Rule(Block block, List<String> names, String property, List<String> values, int line, String comment) {
            this.block = block;
            this.names = names;
            this.property = property;
            this.values = values;
            this.line = line;
            this.comment = comment;
        }

        /** The rule as the library names it: kind, scope, property. */
        public ZelRules.Rule written() {
            if (block == Block.SETTING) return new ZelRules.Rule(property, names, null, values, comment, line);
            return new ZelRules.Rule(block.keyword, names, property, values, comment, line);
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
            return written().valueText();
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

    /** The configuration's location, LIB CELL VIEW. */
    public final List<String> location;
    /** Every rule and setting in the order of the file. */
    public final List<Rule> rules;

    private ConfigFile(List<String> location, List<Rule> rules) {
        this.location = location;
        this.rules = rules;
    }

    /** The rules of an open configuration, as edited. */
    public static ConfigFile of(ZelConfig config) {
        List<Rule> rules = new ArrayList<>();
        for (ZelRules.Rule r : ZelRules.list(config)) rules.add(of(r));
        List<String> location = new ArrayList<>();
        location.add(config.getLibName());
        location.add(config.getCellName());
        location.add(config.getViewName());
        return new ConfigFile(Collections.unmodifiableList(location), Collections.unmodifiableList(rules));
    }

    /** A rule the library listed, in the terms of this class. */
    public static Rule of(ZelRules.Rule r) {
        if (r.isSetting()) return new Rule(Block.SETTING, r.scope(), r.kind(), r.values(), r.line(), r.comment());
        Block block = Block.valueOf(r.kind().toUpperCase(java.util.Locale.ROOT));
        return new Rule(block, r.scope(), r.property(), r.values(), r.line(), r.comment());
    }

    /** A name or value as the file writes it: bare when that reads back the same, else quoted. */
    public static String word(String text) {
        return ZelRules.word(text);
    }
}
