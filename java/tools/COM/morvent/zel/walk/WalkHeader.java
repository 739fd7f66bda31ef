package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;

/** What the walk prints of the configuration before its hierarchy. */
public final class WalkHeader {
    /** Where the configuration is stored. */
    public final CellView location;
    public final int revision;
    /** The configuration's note, lines joined with '\n', or null. */
    public final String note;
    /** The default library list, or null. */
    public final String defaultLibList;
    /** The default view list with its constants expanded, or null. */
    public final String defaultViewList;

    public WalkHeader(CellView location, int revision, String note, String defaultLibList, String defaultViewList) {
        this.location = location;
        this.revision = revision;
        this.note = note;
        this.defaultLibList = defaultLibList;
        this.defaultViewList = defaultViewList;
    }

    /** The header of an open configuration. */
    static WalkHeader of(ZelConfig config) {
        String views = config.getDefaultViewListString();
        return new WalkHeader(new CellView(config.getLibName(), config.getCellName(), config.getViewName()),
                              config.getRevision(), config.getNoteString(), config.getDefaultLibListString(),
                              views == null ? null : config.evalConstants(views));
    }
}
