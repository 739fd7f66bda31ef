package COM.morvent.zel.walk;

/** A walk and the configuration it walked. */
public final class WalkResult {
    /** Where the configuration is stored. */
    public final CellView location;
    public final int revision;
    /** The configuration's note, lines joined with '\n', or null. */
    public final String note;
    public final Node root;

    public WalkResult(CellView location, int revision, String note, Node root) {
        this.location = location;
        this.revision = revision;
        this.note = note;
        this.root = root;
    }
}
