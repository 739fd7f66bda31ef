package COM.morvent.zel.walk;

import COM.morvent.zel.ZelPathVector;

/** Everything a path vector answers about its last bind, read once right after it. */
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

    public BindAnswers(ZelPathVector pv) {
        lib = pv.getCurrentLibBinding();
        cell = pv.getCurrentCellBinding();
        view = pv.getCurrentViewBinding();
        unbound = pv.isUnbound();
        libList = pv.getCurrentLibList();
        viewList = pv.getCurrentViewList();
        expandedViewList = pv.getCurrentExpandedViewList();
        libListWhy = pv.getLibListBindWhy();
        currentViewSet = pv.isCurrentViewSet();
        currentViewListSet = pv.isCurrentViewListSet();
        occurBinding = pv.isCurrentOccurBinding();
        viewMRU = pv.isCurrentViewMRU();
        instViewBindingUsed = pv.isInstViewBindingUsed();
        cellViewBindingUsed = pv.isCellViewBindingUsed();
        libListInherited = pv.isLibListInherited();
        viewListInherited = pv.isViewListInherited();
        libSetOnCellBinding = pv.getLibSetOnCellBinding();
    }

    /** The bound cell view, or null when the instance is bound to open. */
    public CellView binding() {
        return unbound ? null : new CellView(lib, cell, view);
    }
}
