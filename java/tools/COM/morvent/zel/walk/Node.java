package COM.morvent.zel.walk;

import COM.morvent.zel.ZelLevel;

/**
 * One level of the walk: the top cell, or an instance with its binding. The walk keeps only the
 * nodes from the top down to where it stands, so memory follows the depth of the design.
 */
public final class Node {
    /** Why the walk goes no further below a node. */
    public enum End {
        /** Its instances were walked (or it has none). */
        WALKED("walked", "walked"),
        /** A stop rule matched. */
        STOP("stop", "stop"),
        /** Bound to open: nothing to walk into. */
        OPEN("open", "open"),
        /** --depth was reached and it has instances. */
        DEPTH_LIMIT("depth-limit", "depth limit"),
        /** Its cell view is already on the path above it. */
        RECURSIVE("recursive", "recursive"),
        /** The path vector took no further level. */
        TOO_DEEP("too-deep", "too deep"),
        /** The bound view has no directory in the design libraries. */
        NOT_IN_DESIGN("not-in-design", "not in the design"),
        /** Its design file could not be read (the warning says why). */
        DESIGN_FILE_ERROR("design-file-error", "design file error");

        /** The JSON value. */
        public final String token;
        public final String label;

        End(String token, String label) {
            this.token = token;
            this.label = label;
        }
    }

    /** The level above; null for the top cell. */
    public final Node parent;
    /** Instance name; null for the top cell. */
    public final String name;
    /** Levels of instances below the top cell: 0 for the top, 1 for its instances. */
    public final int depth;
    /** The master as placed in the design; null for the top cell. */
    public final CellView master;
    /** Whether it is the last instance of its level. */
    public final boolean last;
    /** What it binds to; null when bound to open. For the top cell, the configuration's top. */
    public CellView binding;
    /** The binding's answers; null for the top cell. */
    public BindAnswers answers;
    /** Which kind of rule supplied the view list in effect (inherited or not); null for the top cell. */
    public Labels.ListSource viewListKind;
    /** The getStopWhy bits of the level it leads to (0: no stop). */
    public int stopWhy;
    public End end = End.WALKED;
    /** The instances of its binding that the walk goes into next; null when it goes no further. */
    DesignFile.Instance[] below;
    /** Whether the path vector stands at its level (pushed and not yet popped). */
    boolean pushed;
    /** Where {@link #below} comes from. */
    Design.Level belowLevel;
    /** Its instances' answers when the walker binds whole levels; null until the first is bound. */
    ZelLevel level;
    /** Whether the level was asked for (its answer may be null). */
    boolean levelAsked;
    /** Where it is among its parent's instances bound at once. */
    int levelIndex;
    /** The instance of {@link #below} expected next. */
    int nextChild;
    private String path;

    public Node(Node parent, String name, CellView master, boolean last) {
        this.parent = parent;
        this.name = name;
        this.depth = parent == null ? 0 : parent.depth + 1;
        this.master = master;
        this.last = last;
    }

    /**
     * Instance names from the top cell down to this one, joined with '/'; "" for the top. A '/'
     * or '\' inside a name is written "\/" or "\\", so that the path reads back one way.
     */
    public String path() {
        if (path == null) {
            path = parent == null ? "" : parent.depth == 0 ? pathName(name) : parent.path() + "/" + pathName(name);
        }
        return path;
    }

    /** An instance name as a path writes it: '/' and '\' with a backslash before them. */
    public static String pathName(String name) {
        if (name.indexOf('/') < 0 && name.indexOf('\\') < 0) return name;
        return name.replace("\\", "\\\\").replace("/", "\\/");
    }

    /** Whether instances below it are walked. */
    public boolean hasInstances() {
        return below != null && below.length > 0;
    }

    /** Whether it is on an occurrence path: the top cell always is, where they all start. */
    boolean onOccurrencePath() {
        return parent == null || answers.onOccurrencePath;
    }
}
