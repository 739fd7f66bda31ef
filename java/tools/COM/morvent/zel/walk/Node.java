package COM.morvent.zel.walk;

import java.util.ArrayList;
import java.util.List;

/** One level of the walked hierarchy: the top cell, or an instance with its binding. */
public final class Node {
    /** Why the walk goes no further below a node. */
    public enum End {
        /** Its instances were walked (or it has none). */
        WALKED("walked"),
        /** A stop rule matched. */
        STOP("stop"),
        /** Bound to open: nothing to walk into. */
        OPEN("open"),
        /** --depth was reached and it has instances. */
        DEPTH_LIMIT("depth limit"),
        /** Its cell view is already on the path above it. */
        RECURSIVE("recursive"),
        /** The path vector took no further level. */
        TOO_DEEP("too deep"),
        /** The bound view has no directory in the design libraries. */
        NOT_IN_DESIGN("not in the design"),
        /** Its design file could not be read (the warning says why). */
        DESIGN_FILE_ERROR("design file error");

        public final String label;

        End(String label) {
            this.label = label;
        }
    }

    /** Instance name; null for the top cell. */
    public final String name;
    /** Instance names from the top cell down to this one, joined with '/'; "" for the top. */
    public final String path;
    /** The master as placed in the design; null for the top cell. */
    public final CellView master;
    /** What it binds to; null when bound to open. For the top cell, the configuration's top. */
    public CellView binding;
    /** The binding's answers; null for the top cell. */
    public BindAnswers answers;
    /** Which kind of rule supplied the view list in effect (inherited or not); null for the top cell. */
    public String viewListKind;
    /** The getStopWhy bits of the level it leads to (0: no stop). */
    public int stopWhy;
    public End end = End.WALKED;
    public final List<Node> children = new ArrayList<>();

    public Node(String name, String path, CellView master) {
        this.name = name;
        this.path = path;
        this.master = master;
    }

    /** The names of the stop rules that matched, in the order of their kinds. */
    public List<String> stopNames() {
        return Labels.stopNames(stopWhy);
    }
}
