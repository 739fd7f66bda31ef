package COM.morvent.zel.walk;

/** One thing {@link Lint} found: which rule or instance, why it is reported, what to do. */
public final class Finding {
    /** The kinds of finding; {@code zel lint --ignore TOKEN} leaves one out. */
    public enum Kind {
        /** A rule, list or stop point that decided nothing in the walk. */
        NEVER_APPLIED("never-applied", false),
        /** A library, cell or view that no library definition or cell view on disk has. */
        UNKNOWN_NAME("unknown-name", false),
        /** A rule that binds to open (a note: it may well be meant). */
        OPEN_BINDING("open-binding", true),
        /** Instances that nothing bound: no view of their list was found (a note). */
        UNBOUND("unbound", true);

        /** The name on the command line and in JSON. */
        public final String token;
        /** Whether it is a note, which does not make the lint fail. */
        public final boolean note;

        Kind(String token, boolean note) {
            this.token = token;
            this.note = note;
        }

        /** The kind of a token, or null. */
        public static Kind of(String token) {
            for (Kind k : values()) if (k.token.equals(token)) return k;
            return null;
        }
    }

    public final Kind kind;
    /** The rule as a person names it ({@code cell * inv: view-binding behavioral}); null when no rule is concerned. */
    public final String rule;
    /** The rule's line in the configuration file, from 1; 0 when none. */
    public final int line;
    /** The instance path (instance names from the top, '/' between them) or the cell view concerned; null when none. */
    public final String where;
    /** Why it is reported. */
    public final String why;
    /** What to do about it. */
    public final String fix;

    public Finding(Kind kind, String rule, int line, String where, String why, String fix) {
        this.kind = kind;
        this.rule = rule;
        this.line = line;
        this.where = where;
        this.why = why;
        this.fix = fix;
    }

    @Override
    public String toString() {
        return kind.token + ": " + (rule != null ? rule : where) + " (" + why + ")";
    }
}
