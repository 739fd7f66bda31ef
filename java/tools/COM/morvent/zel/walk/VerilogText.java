package COM.morvent.zel.walk;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Function;

/**
 * The Verilog of modules as yosys writes it, read as far as an export needs: where each module
 * starts and ends, its name, and the type and name of each instance, so that the export can give
 * a module another name and its instances other types without touching anything else.
 */
final class VerilogText {
    /** A token: an identifier (simple or escaped), or anything else. */
    static final class Token {
        final int start;
        final int end;
        /** The identifier's name (an escaped one without its backslash and blank); null for others. */
        final String name;
        /** The character of punctuation; '\\' for an escaped identifier, '\0' for a simple one. */
        final char punct;

        Token(int start, int end, String name, char punct) {
            this.start = start;
            this.end = end;
            this.name = name;
            this.punct = punct;
        }
    }

    private VerilogText() {
    }

    /** The tokens of a text, comments, strings, numbers and directives left out or made opaque. */
    static List<Token> tokens(String s) {
        List<Token> out = new ArrayList<>();
        int n = s.length();
        int i = 0;
        while (i < n) {
            char c = s.charAt(i);
            if (Character.isWhitespace(c)) {
                ++i;
            } else if (c == '/' && i + 1 < n && s.charAt(i + 1) == '/') {
                while (i < n && s.charAt(i) != '\n') ++i;
            } else if (c == '/' && i + 1 < n && s.charAt(i + 1) == '*') {
                int close = s.indexOf("*/", i + 2);
                i = close < 0 ? n : close + 2;
            } else if (c == '"') {
                int j = i + 1;
                while (j < n && s.charAt(j) != '"') j += s.charAt(j) == '\\' ? 2 : 1;
                out.add(new Token(i, Math.min(j + 1, n), null, '"'));
                i = Math.min(j + 1, n);
            } else if (c == '\\') {
                int j = i + 1;
                while (j < n && !Character.isWhitespace(s.charAt(j))) ++j;
                out.add(new Token(i, j, s.substring(i + 1, j), '\\'));
                i = j;
            } else if (Character.isLetter(c) || c == '_') {
                int j = i + 1;
                while (j < n && (Character.isLetterOrDigit(s.charAt(j)) || s.charAt(j) == '_' || s.charAt(j) == '$')) ++j;
                out.add(new Token(i, j, s.substring(i, j), '\0'));
                i = j;
            } else if (c == '$' || c == '`' || Character.isDigit(c) || c == '\'') {
                // System names, directives, numbers (with their base and digits): opaque words.
                int j = i + 1;
                while (j < n && (Character.isLetterOrDigit(s.charAt(j)) || "_$'?".indexOf(s.charAt(j)) >= 0)) ++j;
                out.add(new Token(i, j, null, c));
                i = j;
            } else {
                out.add(new Token(i, i + 1, null, c));
                ++i;
            }
        }
        return out;
    }

    /**
     * The modules of a file, by name, each from its {@code module} keyword to the end of its
     * {@code endmodule} line.
     */
    static Map<String, String> modules(String text) {
        Map<String, String> modules = new LinkedHashMap<>();
        List<Token> tokens = tokens(text);
        for (int i = 0; i < tokens.size(); ++i) {
            Token t = tokens.get(i);
            if (!"module".equals(t.name) || t.punct == '\\' || i + 1 >= tokens.size()) continue;
            String name = tokens.get(i + 1).name;
            int j = i + 1;
            while (j < tokens.size() && !("endmodule".equals(tokens.get(j).name) && tokens.get(j).punct != '\\')) ++j;
            int end = j < tokens.size() ? tokens.get(j).end : text.length();
            int lineStart = text.lastIndexOf('\n', t.start) + 1;
            int lineEnd = text.indexOf('\n', end);
            lineEnd = lineEnd < 0 ? text.length() : lineEnd + 1;
            if (name != null) modules.put(name, text.substring(lineStart, lineEnd));
            i = j;
        }
        return modules;
    }

    /** An instance found in a module's text: its type and name, and the ports it connects by name. */
    static final class Instance {
        final Token type;
        final String name;
        final List<String> ports = new ArrayList<>();

        Instance(Token type, String name) {
            this.type = type;
            this.name = name;
        }
    }

    /** The module's name token. */
    static Token moduleName(List<Token> tokens) {
        for (int i = 0; i + 1 < tokens.size(); ++i) {
            if ("module".equals(tokens.get(i).name) && tokens.get(i).punct != '\\') return tokens.get(i + 1);
        }
        return null;
    }

    /**
     * The instances of a module's text whose names {@code known} answers true for: a type, its
     * parameters {@code #( ... )} if any, the instance name, a range if any, then '('.
     */
    static List<Instance> instances(List<Token> tokens, java.util.function.Predicate<String> known) {
        List<Instance> found = new ArrayList<>();
        for (int i = 0; i + 2 < tokens.size(); ++i) {
            Token type = tokens.get(i);
            if (type.name == null || type.punct != '\\' && NetlistNames.isKeyword(type.name)) continue;
            int j = i + 1;
            if (tokens.get(j).punct == '#') {
                if (j + 1 >= tokens.size() || tokens.get(j + 1).punct != '(') continue;
                j = skip(tokens, j + 1);
                if (j < 0 || j >= tokens.size()) continue;
            }
            Token name = tokens.get(j);
            if (name.name == null || !known.test(name.name) || j + 1 >= tokens.size()) continue;
            int k = j + 1;
            if (tokens.get(k).punct == '[') {
                while (k < tokens.size() && tokens.get(k).punct != ']') ++k;
                ++k;
            }
            if (k >= tokens.size() || tokens.get(k).punct != '(') continue;
            Instance inst = new Instance(type, name.name);
            int close = skip(tokens, k);
            for (int p = k + 1; p + 1 < (close < 0 ? tokens.size() : close); ++p) {
                if (tokens.get(p).punct == '.' && tokens.get(p + 1).name != null) inst.ports.add(tokens.get(p + 1).name);
            }
            found.add(inst);
            i = close < 0 ? tokens.size() : close;
        }
        return found;
    }

    // The index after the parenthesis that closes the one at `open`; -1 when none does.
    private static int skip(List<Token> tokens, int open) {
        int depth = 0;
        for (int i = open; i < tokens.size(); ++i) {
            char p = tokens.get(i).punct;
            if (p == '(') ++depth;
            else if (p == ')' && --depth == 0) return i + 1;
        }
        return -1;
    }

    /**
     * The module's text with its name set to {@code newName} and each known instance's type to
     * what {@code typeOf} answers for its name (null: left as written).
     */
    static String rename(String text, List<Token> tokens, List<Instance> instances, String newName,
                         Function<String, String> typeOf) {
        StringBuilder b = new StringBuilder(text.length() + 64);
        int copied = 0;
        Token module = moduleName(tokens);
        if (module != null) {
            b.append(text, copied, module.start).append(NetlistNames.verilog(newName));
            copied = module.end;
        }
        for (Instance inst : instances) {
            String type = typeOf.apply(inst.name);
            if (type == null || inst.type.start < copied) continue;
            b.append(text, copied, inst.type.start).append(NetlistNames.verilog(type));
            copied = inst.type.end;
        }
        b.append(text, copied, text.length());
        return b.toString();
    }
}
