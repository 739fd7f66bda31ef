package COM.morvent.zel.walk;

import COM.morvent.zel.ZelWarningListener;
import java.io.IOException;
import java.util.EnumSet;
import java.util.List;
import java.util.Set;

/** {@code zel lint}: runs {@link Lint} and prints its findings as text or JSON. */
final class LintCommand {
    private LintCommand() {
    }

    static int run(String[] args, Zel.Io io) throws IOException {
        try {
            return lint(args, io);
        } catch (WalkException e) {
            // 1 says the lint found something: whatever else stops it cannot be read.
            io.err.println(Zel.NAME + " lint: " + e.getMessage());
            return e.status == Zel.USAGE ? Zel.USAGE : Zel.UNREADABLE;
        }
    }

    private static int lint(String[] args, Zel.Io io) throws WalkException, IOException {
        Zel.Line line = Zel.parse(args, "lint", List.of("--json", "--progress", "--no-progress"), List.of("--ignore"));
        if (!line.words.isEmpty()) throw new WalkException(2, "unexpected argument '" + line.words.get(0) + "'; zel help lint");
        Set<Finding.Kind> ignored = EnumSet.noneOf(Finding.Kind.class);
        for (String token : line.values.getOrDefault("--ignore", List.of())) {
            for (String t : token.split(",")) {
                Finding.Kind kind = Finding.Kind.of(t.trim());
                if (kind == null) {
                    throw new WalkException(2, "--ignore takes never-applied, unknown-name, open-binding or unbound, not '" + t + "'");
                }
                ignored.add(kind);
            }
        }
        boolean json = line.flags.contains("--json");
        boolean shown = line.flags.contains("--progress") || !line.flags.contains("--no-progress") && io.errTerminal;
        Progress progress = new Progress(io.err, shown, io.errTerminal);
        ZelWarningListener warnings = text -> {
            progress.clear();
            io.err.println(Zel.NAME + " lint: warning: " + Zel.inZelWords(text));
        };
        List<Finding> findings;
        CellView name;
        try (Zel.Opened opened = Zel.open(line, "r", io, warnings)) {
            name = opened.name;
            findings = Lint.run(opened.config, opened.file(), opened.libraries, opened.definitionsFile, warnings, progress);
        }
        progress.finish();
        findings.removeIf(f -> ignored.contains(f.kind));
        long found = findings.stream().filter(f -> !f.kind.note).count();
        long notes = findings.size() - found;
        StringBuilder b = new StringBuilder();
        if (json) {
            b.append("{\"config\":").append(JsonPrinter.string(name.toString()))
             .append(",\"found\":").append(found).append(",\"notes\":").append(notes).append(",\"findings\":[");
            for (int i = 0; i < findings.size(); ++i) {
                Finding f = findings.get(i);
                b.append(i == 0 ? "\n" : ",\n").append("{\"kind\":").append(JsonPrinter.string(f.kind.token))
                 .append(",\"note\":").append(f.kind.note)
                 .append(",\"rule\":").append(f.rule == null ? "null" : JsonPrinter.string(f.rule))
                 .append(",\"line\":").append(f.line == 0 ? "null" : Integer.toString(f.line))
                 .append(",\"where\":").append(f.where == null ? "null" : JsonPrinter.string(f.where))
                 .append(",\"why\":").append(JsonPrinter.string(f.why))
                 .append(",\"fix\":").append(JsonPrinter.string(f.fix)).append('}');
            }
            b.append(findings.isEmpty() ? "]}\n" : "\n]}\n");
        } else {
            for (Finding f : findings) {
                b.append(f.kind.note ? "note: " : "").append(f.kind.token).append(": ")
                 .append(f.rule != null ? f.rule : f.where);
                if (f.line > 0) b.append("  (line ").append(f.line).append(')');
                b.append("\n    why: ").append(f.why).append("\n    fix: ").append(f.fix).append('\n');
            }
            b.append(name).append(": ").append(count(found, "finding")).append(", ").append(count(notes, "note")).append('\n');
        }
        Zel.write(io, b.toString());
        return found > 0 ? Zel.FOUND : Zel.DONE;
    }

    private static String count(long n, String what) {
        return n + " " + what + (n == 1 ? "" : "s");
    }
}
