package COM.morvent.zel.walk;

import COM.morvent.zel.ZelLevel;
import COM.morvent.zel.ZelPathVector;

/**
 * Everything a path vector answers about its last bind, read once right after it, and the few
 * other answers that tell which rule supplied the view list (the bridge gives the list's text,
 * not the kind of its rule).
 */
public final class BindAnswers {
    public final String lib;
    public final String cell;
    public final String view;
    public final boolean unbound;
    public final String libList;
    public final String viewList;
    public final String expandedViewList;
    public final int libListWhy;
    public final boolean currentViewSet;
    public final boolean currentViewListSet;
    public final boolean occurBinding;
    public final boolean viewMRU;
    public final boolean instViewBindingUsed;
    public final boolean cellViewBindingUsed;
    public final boolean libListInherited;
    public final boolean viewListInherited;
    public final String libSetOnCellBinding;
    /**
     * getRawContextInstViewString of the instance (its instance and occurrence rules alone); null
     * when it is on no occurrence path, where it is not asked.
     */
    public final String contextViewString;
    /** isPartOfOccurPath of the instance. */
    public final boolean onOccurrencePath;
    /** The view list of the master's cell rule (library-qualified, else any library), or null. */
    public final String cellViewList;
    /** The configuration's default view list, or null. */
    public final String defaultViewList;

    /**
     * Reads the answers of {@code pv}'s last bind, of instance {@code inst} whose master is
     * {@code master}.
     *
     * @param mayBeOnOccurrencePath false when the level's own instance is on no occurrence path:
     *        occurrence paths run from the top, so no instance below it is on one and the
     *        occurrence questions are not asked
     * @param cellViewList          the master's cell rule's view list, or null
     * @param defaultViewList       the configuration's default view list, or null
     * @param everything            false when only the kinds of rule and the lists in effect are
     *        wanted (the brief tree, the summary, the graph): then what none of them reads is not
     *        asked and reads false or null: isCurrentViewSet; isCurrentViewMRU (the walk binds
     *        without allowRecent, so it is false anyway); isCurrentOccurBinding off occurrence
     *        paths; isCurrentViewListSet and the view list as written (getCurrentViewList) for a
     *        view list inherited from above, off occurrence paths
     */
    public BindAnswers(ZelPathVector pv, String inst, CellView master, boolean mayBeOnOccurrencePath,
                       String cellViewList, String defaultViewList, boolean everything) {
        lib = pv.getCurrentLibBinding();
        cell = pv.getCurrentCellBinding();
        view = pv.getCurrentViewBinding();
        unbound = pv.isUnbound();
        libList = pv.getCurrentLibList();
        expandedViewList = pv.getCurrentExpandedViewList();
        libListWhy = pv.getLibListBindWhy();
        libListInherited = pv.isLibListInherited();
        viewListInherited = pv.isViewListInherited();
        onOccurrencePath = mayBeOnOccurrencePath && pv.isPartOfOccurPath(inst);
        boolean ownList = everything || onOccurrencePath || !viewListInherited;
        currentViewListSet = ownList && pv.isCurrentViewListSet();
        viewList = ownList && (everything || onOccurrencePath || !currentViewListSet) ? pv.getCurrentViewList() : null;
        currentViewSet = everything && pv.isCurrentViewSet();
        occurBinding = (everything || onOccurrencePath) && pv.isCurrentOccurBinding();
        viewMRU = everything && pv.isCurrentViewMRU();
        instViewBindingUsed = pv.isInstViewBindingUsed();
        cellViewBindingUsed = pv.isCellViewBindingUsed();
        libSetOnCellBinding = pv.getLibSetOnCellBinding();
        // Only an occurrence's answers need the instance's own view string. The bridge hands the
        // four strings to the library in order, and the library takes the instance first (the
        // parameter names of the Java declaration say otherwise).
        contextViewString = onOccurrencePath
                ? pv.getRawContextInstViewString(inst, master.lib, master.cell, master.view) : null;
        this.cellViewList = cellViewList;
        this.defaultViewList = defaultViewList;
    }

    /**
     * The same answers read from instance {@code i} of a level bound at once, asked only where
     * the constructor above would ask them: what it would not ask reads false or null here too.
     */
    public BindAnswers(ZelLevel level, int i, boolean mayBeOnOccurrencePath, String cellViewList,
                       String defaultViewList, boolean everything) {
        lib = level.getCurrentLibBinding(i);
        cell = level.getCurrentCellBinding(i);
        view = level.getCurrentViewBinding(i);
        unbound = level.is(i, ZelLevel.UNBOUND);
        libList = level.getCurrentLibList(i);
        expandedViewList = level.getCurrentExpandedViewList(i);
        libListWhy = level.getLibListBindWhy(i);
        libListInherited = level.is(i, ZelLevel.LIB_LIST_INHERITED);
        viewListInherited = level.is(i, ZelLevel.VIEW_LIST_INHERITED);
        onOccurrencePath = mayBeOnOccurrencePath && level.is(i, ZelLevel.PART_OF_OCCUR_PATH);
        boolean ownList = everything || onOccurrencePath || !viewListInherited;
        currentViewListSet = ownList && level.is(i, ZelLevel.VIEW_LIST_SET);
        viewList = ownList && (everything || onOccurrencePath || !currentViewListSet) ? level.getCurrentViewList(i) : null;
        currentViewSet = everything && level.is(i, ZelLevel.VIEW_SET);
        occurBinding = (everything || onOccurrencePath) && level.is(i, ZelLevel.OCCUR_BINDING);
        viewMRU = everything && level.is(i, ZelLevel.VIEW_MRU);
        instViewBindingUsed = level.is(i, ZelLevel.INST_VIEW_BINDING_USED);
        cellViewBindingUsed = level.is(i, ZelLevel.CELL_VIEW_BINDING_USED);
        libSetOnCellBinding = level.getLibSetOnCellBinding(i);
        contextViewString = onOccurrencePath ? level.getRawContextInstViewString(i) : null;
        this.cellViewList = cellViewList;
        this.defaultViewList = defaultViewList;
    }

    /** For tests: answers as given. */
    BindAnswers(String lib, String cell, String view, boolean unbound, String libList, String viewList,
                String expandedViewList, int libListWhy, boolean[] flags, String libSetOnCellBinding,
                String contextViewString, boolean onOccurrencePath, String cellViewList, String defaultViewList) {
        this.lib = lib;
        this.cell = cell;
        this.view = view;
        this.unbound = unbound;
        this.libList = libList;
        this.viewList = viewList;
        this.expandedViewList = expandedViewList;
        this.libListWhy = libListWhy;
        currentViewSet = flags[0];
        currentViewListSet = flags[1];
        occurBinding = flags[2];
        viewMRU = flags[3];
        instViewBindingUsed = flags[4];
        cellViewBindingUsed = flags[5];
        libListInherited = flags[6];
        viewListInherited = flags[7];
        this.libSetOnCellBinding = libSetOnCellBinding;
        this.contextViewString = contextViewString;
        this.onOccurrencePath = onOccurrencePath;
        this.cellViewList = cellViewList;
        this.defaultViewList = defaultViewList;
    }

    /** The bound cell view, or null when the instance is bound to open. */
    public CellView binding() {
        return unbound ? null : new CellView(lib, cell, view);
    }
}
