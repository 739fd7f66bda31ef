package COM.morvent.zel.walk;

import java.io.IOException;
import java.util.List;

/** {@code zel show}: a configuration's settings and rules, one a line, as zel get and zel set name them. */
final class Show {
    private Show() {
    }

    static int run(String[] args, Zel.Io io) throws WalkException, IOException {
        Zel.Line line = Zel.parse(args, "show", List.of(), List.of());
        if (!line.words.isEmpty()) throw new WalkException(2, "unexpected argument '" + line.words.get(0) + "'; zel help show");
        StringBuilder b = new StringBuilder();
        try (Zel.Opened opened = Zel.open(line, "r", io, Zel.warnings(io, "show"), 1)) {
            b.append("# ").append(opened.name).append(", revision ").append(opened.config.getRevision()).append('\n');
            for (ConfigFile.Rule rule : opened.file().rules) b.append(text(rule)).append('\n');
        }
        Zel.write(io, b.toString());
        return 0;
    }

    /** A rule as one line of zel show: its key, then its value as the file writes it. */
    static String text(ConfigFile.Rule rule) {
        String value = rule.valueText();
        return value.isEmpty() ? rule.key() : rule.key() + " " + value;
    }
}
