package COM.morvent.zel.walk;

import COM.morvent.zel.ZelRules;
import java.io.IOException;
import java.util.List;

/** {@code zel show}: a configuration's settings and rules, one a line, as zel get and zel set name them. */
final class Show {
    private Show() {
    }

    static int run(String[] args, Zel.Io io) throws WalkException, IOException {
        Zel.Line line = Zel.parse(args, "show", List.of("--json"), List.of());
        if (!line.words.isEmpty()) throw new WalkException(2, "unexpected argument '" + line.words.get(0) + "'; zel help show");
        boolean json = line.flags.contains("--json");
        StringBuilder b = new StringBuilder();
        try (Zel.Opened opened = Zel.open(line, "r", io, Zel.warnings(io, "show"))) {
            if (json) {
                b.append("{\"config\": ").append(JsonPrinter.string(opened.name.toString()))
                 .append(", \"revision\": ").append(opened.config.getRevision()).append(", \"rules\": [");
                String sep = "\n  ";
                for (ConfigFile.Rule rule : opened.file().rules) {
                    b.append(sep).append(json(rule.written()));
                    sep = ",\n  ";
                }
                b.append("\n]}\n");
            } else {
                b.append("# ").append(opened.name).append(", revision ").append(opened.config.getRevision()).append('\n');
                for (ConfigFile.Rule rule : opened.file().rules) b.append(text(rule)).append('\n');
            }
        }
        Zel.write(io, b.toString());
        return 0;
    }

    /** A rule as one line of zel show: its key, then its value as the file writes it. */
    static String text(ConfigFile.Rule rule) {
        String value = rule.valueText();
        return value.isEmpty() ? rule.key() : rule.key() + " " + value;
    }

    /** A rule as a JSON object: its words, its key and line as zel show prints them, its comment and line. */
    static String json(ZelRules.Rule rule) {
        StringBuilder b = new StringBuilder("{\"kind\": ").append(JsonPrinter.string(rule.kind()));
        b.append(", \"scope\": ");
        strings(b, rule.scope());
        b.append(", \"property\": ").append(JsonPrinter.string(rule.property()));
        b.append(", \"values\": ");
        strings(b, rule.values());
        b.append(", \"key\": ").append(JsonPrinter.string(rule.key()));
        b.append(", \"text\": ").append(JsonPrinter.string(rule.toString()));
        b.append(", \"comment\": ").append(JsonPrinter.string(rule.comment()));
        b.append(", \"line\": ").append(rule.line()).append('}');
        return b.toString();
    }

    // Names and values: null stands for '*' in a scope and '-' among values.
    private static void strings(StringBuilder b, List<String> list) {
        b.append('[');
        for (int i = 0; i < list.size(); ++i) {
            if (i > 0) b.append(", ");
            JsonPrinter.string(b, list.get(i));
        }
        b.append(']');
    }
}
