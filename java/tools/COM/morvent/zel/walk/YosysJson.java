package COM.morvent.zel.walk;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * Reads a JSON netlist as yosys writes it ({@code write_json}): objects become maps in the order
 * of the text, arrays lists, numbers longs or doubles. What an import never reads (the nets and
 * the connections, most of a netlist's bytes) is skipped, not kept.
 */
final class YosysJson {
    private static final Set<String> SKIPPED = Set.of("netnames", "connections", "port_directions");
    /** Skipped inside a cell (four objects deep): its source places and parameters. */
    private static final Set<String> SKIPPED_IN_CELLS = Set.of("attributes", "parameters");
    private int depth;

    private final String text;
    private int at;

    private YosysJson(String text) {
        this.text = text;
    }

    static final class JsonException extends Exception {
        private static final long serialVersionUID = 1L;

        JsonException(String message) {
            super(message);
        }
    }

    /** The document of {@code text}; {@code where} names it in messages. */
    static Object parse(String where, String text) throws JsonException {
        YosysJson p = new YosysJson(text);
        try {
            p.blanks();
            Object value = p.value(true);
            p.blanks();
            if (p.at != text.length()) throw p.error("text after the document");
            return value;
        } catch (JsonException e) {
            throw new JsonException(where + ": " + e.getMessage());
        }
    }

    private JsonException error(String what) {
        int line = 1;
        int column = 1;
        for (int i = 0; i < Math.min(at, text.length()); ++i) {
            if (text.charAt(i) == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return new JsonException(line + ":" + column + ": " + what + "; is it a JSON netlist of yosys (write_json)?");
    }

    private void blanks() {
        while (at < text.length() && (text.charAt(at) == ' ' || text.charAt(at) == '\n' || text.charAt(at) == '\r'
                                      || text.charAt(at) == '\t')) ++at;
    }

    private Object value(boolean keep) throws JsonException {
        if (at >= text.length()) throw error("the text ends early");
        char c = text.charAt(at);
        if (c == '{') return object(keep);
        if (c == '[') return array(keep);
        if (c == '"') return string();
        if (text.startsWith("true", at)) {
            at += 4;
            return Boolean.TRUE;
        }
        if (text.startsWith("false", at)) {
            at += 5;
            return Boolean.FALSE;
        }
        if (text.startsWith("null", at)) {
            at += 4;
            return null;
        }
        int start = at;
        while (at < text.length() && "+-0123456789.eE".indexOf(text.charAt(at)) >= 0) ++at;
        if (start == at) throw error("unexpected '" + c + "'");
        String number = text.substring(start, at);
        try {
            return number.matches("-?[0-9]+") ? (Object) Long.parseLong(number) : (Object) Double.parseDouble(number);
        } catch (NumberFormatException e) {
            at = start;
            throw error("not a number: " + number);
        }
    }

    private Map<String, Object> object(boolean keep) throws JsonException {
        ++at;
        ++depth;
        try {
            return members(keep);
        } finally {
            --depth;
        }
    }

    private Map<String, Object> members(boolean keep) throws JsonException {
        Map<String, Object> map = keep ? new LinkedHashMap<>() : null;
        blanks();
        if (at < text.length() && text.charAt(at) == '}') {
            ++at;
            return map;
        }
        while (true) {
            blanks();
            if (at >= text.length() || text.charAt(at) != '"') throw error("expected a name in quotes");
            String key = string();
            blanks();
            if (at >= text.length() || text.charAt(at) != ':') throw error("expected ':'");
            ++at;
            blanks();
            boolean keepValue = keep && !SKIPPED.contains(key) && !(depth >= 5 && SKIPPED_IN_CELLS.contains(key));
            Object value = value(keepValue);
            if (keepValue) map.put(key, value);
            blanks();
            if (at < text.length() && text.charAt(at) == ',') {
                ++at;
                continue;
            }
            if (at < text.length() && text.charAt(at) == '}') {
                ++at;
                return map;
            }
            throw error("expected ',' or '}'");
        }
    }

    private List<Object> array(boolean keep) throws JsonException {
        ++at;
        List<Object> list = keep ? new ArrayList<>() : null;
        blanks();
        if (at < text.length() && text.charAt(at) == ']') {
            ++at;
            return list;
        }
        while (true) {
            blanks();
            Object value = value(keep);
            if (keep) list.add(value);
            blanks();
            if (at < text.length() && text.charAt(at) == ',') {
                ++at;
                continue;
            }
            if (at < text.length() && text.charAt(at) == ']') {
                ++at;
                return list;
            }
            throw error("expected ',' or ']'");
        }
    }

    private String string() throws JsonException {
        ++at;
        StringBuilder b = null;
        int start = at;
        while (true) {
            if (at >= text.length()) throw error("a string is not closed");
            char c = text.charAt(at);
            if (c == '"') {
                String s = b == null ? text.substring(start, at) : b.append(text, start, at).toString();
                ++at;
                return s;
            }
            if (c == '\\') {
                if (b == null) b = new StringBuilder();
                b.append(text, start, at);
                if (at + 1 >= text.length()) throw error("a string is not closed");
                char e = text.charAt(at + 1);
                at += 2;
                switch (e) {
                    case '"': b.append('"'); break;
                    case '\\': b.append('\\'); break;
                    case '/': b.append('/'); break;
                    case 'b': b.append('\b'); break;
                    case 'f': b.append('\f'); break;
                    case 'n': b.append('\n'); break;
                    case 'r': b.append('\r'); break;
                    case 't': b.append('\t'); break;
                    case 'u':
                        if (at + 4 > text.length()) throw error("a \\u escape is cut short");
                        try {
                            b.append((char) Integer.parseInt(text.substring(at, at + 4), 16));
                        } catch (NumberFormatException x) {
                            throw error("a \\u escape takes four hex digits");
                        }
                        at += 4;
                        break;
                    default:
                        throw error("unknown escape \\" + e);
                }
                start = at;
                continue;
            }
            ++at;
        }
    }
}
