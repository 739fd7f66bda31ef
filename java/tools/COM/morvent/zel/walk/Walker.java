package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelLevel;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.io.IOException;
import java.util.ArrayDeque;
import java.util.Deque;
import java.util.HashMap;
import java.util.Map;

/**
 * Walks the design hierarchy that an open configuration describes: from the top cell down, it
 * binds each instance of the current cell view, descends into what it binds to and stops where
 * the configuration says. What it finds goes to a {@link WalkSink} as it goes; only the levels
 * from the top down to where it stands are kept.
 *
 * <p>{@link #walk} does the whole walk; {@link #start}, {@link #bind} and {@link #leave} are its
 * steps, for walking two configurations side by side.
 */
public final class Walker {
    /** Cell rules' view lists kept before the cache starts afresh. */
    private static final int MAX_CELL_VIEW_LISTS = 10_000;

    private final ZelConfig config;
    private final Design design;
    private final ZelWarningListener warnings;
    private final int maxDepth;
    private final Progress progress;
    private final boolean everything;
    private final Deque<CellView> onPath = new ArrayDeque<>();
    // The configuration is open read-only: what it answers about its rules does not change
    // during the walk, so each question is asked once.
    private final String defaultViewList;
    private final Map<CellView, String> cellViewLists = new HashMap<>();
    private ZelPathVector pv;
    private boolean wholeLevels;
    // The node last bound through its level's answers whose binding the path vector has not
    // entered yet: it does so only to walk below it, or when asked for the path vector.
    private Node unentered;

    /**
     * @param config     an open configuration, not edited during the walk
     * @param design     the design's instances
     * @param warnings   receives the library's warnings
     * @param maxDepth   how many levels of instances below the top cell to walk
     * @param progress   told of every instance bound
     * @param everything whether to read every answer of a bind, not only those the labels need
     *                   ({@link BindAnswers})
     */
    public Walker(ZelConfig config, Design design, ZelWarningListener warnings, int maxDepth, Progress progress,
                  boolean everything) {
        this.config = config;
        this.design = design;
        this.warnings = warnings;
        this.maxDepth = maxDepth;
        this.progress = progress;
        this.everything = everything;
        this.defaultViewList = config.getDefaultViewListString();
    }

    /**
     * Binds each level's instances all at once ({@link ZelLevel}) when the first of them is bound,
     * instead of one at a time: the same answers for a fraction of the crossings into the
     * library. For walks that bind a level's instances in turn; not worth it for one instance.
     */
    public Walker wholeLevels(boolean on) {
        wholeLevels = on;
        return this;
    }

    /** Walks the whole hierarchy into {@code sink}. */
    public void walk(WalkSink sink) throws WalkException, IOException {
        Node top = start();
        try {
            sink.start(top);
            walkBelow(top, sink);
            sink.finish(top);
        } finally {
            close();
        }
    }

    private void walkBelow(Node parent, WalkSink sink) throws IOException {
        DesignFile.Instance[] instances = parent.below;
        if (instances == null) return;
        for (int i = 0; i < instances.length; ++i) {
            Node child = bind(parent, instances[i], i == instances.length - 1);
            sink.enter(child);
            walkBelow(child, sink);
            sink.leave(child);
            leave(child);
        }
    }

    /** Creates the path vector and stands at the top cell; gives the top's node. */
    public Node start() throws WalkException {
        CellView top = new CellView(config.getTopLibName(), config.getTopCellName(), config.getTopViewName());
        if (top.cell == null) {
            throw new WalkException(1, "the configuration names no top cell; set one with "
                                       + "'top LIB CELL VIEW' in its file");
        }
        pv = ZelPathVector.create(config);
        if (pv.pathvector == 0) throw new WalkException(1, "no path vector over the configuration; is it open?");
        if (!pv.pushCell(top.lib, top.cell, top.view, null)) {
            close();
            throw new WalkException(1, "the top cell " + top + " was refused; check 'top' in the configuration");
        }
        Node root = new Node(null, null, null, true);
        root.binding = top;
        root.pushed = true;
        settle(root);
        return root;
    }

    /** The path vector, standing at the level of the last node bound and not left; null before {@link #start}. */
    public ZelPathVector pathVector() {
        if (unentered != null) enter(unentered);
        return pv;
    }

    /** Destroys the path vector. */
    public void close() {
        if (pv != null) pv.destroy();
        pv = null;
    }

    /**
     * Binds an instance of {@code parent}'s level (where the path vector stands), reads the
     * answers and, unless it is bound to open, stands at its binding: the node tells whether the
     * walk goes on below it ({@link Node#below}). {@link #leave} goes back up.
     */
    public Node bind(Node parent, DesignFile.Instance inst, boolean last) {
        Node node = new Node(parent, inst.name, inst.master, last);
        progress.instance(node.depth);
        if (unentered != null) enter(unentered);
        int i = wholeLevels ? levelIndex(parent, inst) : -1;
        if (i >= 0) {
            ZelLevel level = parent.level;
            node.levelIndex = i;
            BindAnswers a = new BindAnswers(level, i, parent.onOccurrencePath(), cellViewList(inst.master),
                                            defaultViewList, everything);
            node.answers = a;
            node.binding = a.binding();
            node.viewListKind = Labels.viewListKind(a, parent.viewListKind);
            if (node.binding == null) {
                node.end = Node.End.OPEN;
            } else if (!level.is(i, ZelLevel.PUSHED)) {
                node.end = Node.End.TOO_DEEP;
            } else if (level.is(i, ZelLevel.AT_STOP)) {
                node.stopWhy = level.getStopWhy(i);
                node.end = Node.End.STOP;
                unentered = node;
            } else {
                settleBelow(node);
                if (node.below != null) {
                    enter(node);
                } else {
                    unentered = node;
                }
            }
            return node;
        }
        pv.bind(inst.name, inst.master.lib, inst.master.cell, inst.master.view, true, true, false, warnings);
        BindAnswers a = new BindAnswers(pv, inst.name, inst.master, parent.onOccurrencePath(),
                                        cellViewList(inst.master), defaultViewList, everything);
        node.answers = a;
        node.binding = a.binding();
        node.viewListKind = Labels.viewListKind(a, parent.viewListKind);
        if (node.binding == null) {
            node.end = Node.End.OPEN;
        } else if (!pv.pushCell(node.binding.lib, node.binding.cell, node.binding.view, inst.name)) {
            node.end = Node.End.TOO_DEEP;
        } else {
            node.pushed = true;
            settle(node);
        }
        return node;
    }

    /** Goes back up from a node {@link #bind} gave. */
    public void leave(Node node) {
        if (unentered == node) unentered = null;
        if (node.below != null) onPath.pop();
        if (node.pushed) pv.popCell();
        node.pushed = false;
    }

    // The path vector stands at the level of `node`'s binding: decides whether the walk goes on
    // below it, and with which instances.
    private void settle(Node node) {
        if (pv.isAtStop()) {
            node.stopWhy = pv.getStopWhy();
            node.end = Node.End.STOP;
            return;
        }
        settleBelow(node);
    }

    // No stop at `node`'s binding: whether the walk goes on below it, and with which instances.
    private void settleBelow(Node node) {
        Design.Level level = design.level(node.binding);
        if (level.problem != null) {
            node.end = level.problem;
            return;
        }
        if (onPath.contains(node.binding)) {
            node.end = Node.End.RECURSIVE;
            return;
        }
        if (level.instances.length == 0) return;
        if (node.depth >= maxDepth) {
            node.end = Node.End.DEPTH_LIMIT;
            return;
        }
        node.below = level.instances;
        node.belowLevel = level;
        onPath.push(node.binding);
    }

    // The path vector enters the binding of a node bound through its level's answers, as the
    // level's native did once already. A push takes the lists the level below inherits from the
    // last bind, which was the level's last instance: the node's is bound again first, quietly
    // (its warnings were told with the level's).
    private void enter(Node node) {
        unentered = null;
        if (!ZelLevel.enter(pv, node.parent.belowLevel.packed, node.levelIndex, true, true, false)) {
            throw new IllegalStateException("the path vector did not enter " + node.binding + " again");
        }
        node.pushed = true;
    }

    // Where `inst` is among the instances of `parent`'s level bound at once, binding them when
    // the first is asked for; -1 when it is not there (or the level could not be bound).
    private int levelIndex(Node parent, DesignFile.Instance inst) {
        DesignFile.Instance[] below = parent.below;
        if (below == null) return -1;
        if (!parent.levelAsked) {
            parent.levelAsked = true;
            Design.Level source = parent.belowLevel;
            if (source.packed == null) {
                int n = below.length;
                String[] names = new String[n], libs = new String[n], cells = new String[n], views = new String[n];
                for (int k = 0; k < n; ++k) {
                    names[k] = below[k].name;
                    libs[k] = below[k].master.lib;
                    cells[k] = below[k].master.cell;
                    views[k] = below[k].master.view;
                }
                source.packed = new ZelLevel.Instances(names, libs, cells, views);
            }
            parent.level = ZelLevel.bind(pv, source.packed, true, true, false, parent.onOccurrencePath(), warnings);
        }
        if (parent.level == null) return -1;
        int i = parent.nextChild;
        if (i >= below.length || below[i] != inst) {
            for (i = 0; i < below.length && below[i] != inst; ++i) {
                // the instance bound out of turn
            }
        }
        if (i >= parent.level.count()) return -1;
        parent.nextChild = i + 1;
        return i;
    }

    /** The view list of the master's cell rule (library-qualified, else any library), or null. */
    private String cellViewList(CellView master) {
        CellView key = new CellView(master.lib, master.cell, null);
        String list = cellViewLists.get(key);
        if (list == null && !cellViewLists.containsKey(key)) {
            list = master.lib != null ? config.getCellViewList(master.lib, master.cell) : null;
            if (list == null) list = config.getCellViewList(null, master.cell);
            if (cellViewLists.size() >= MAX_CELL_VIEW_LISTS) cellViewLists.clear();
            cellViewLists.put(key, list);
        }
        return list;
    }
}
