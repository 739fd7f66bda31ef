package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
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
        onPath.push(node.binding);
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
