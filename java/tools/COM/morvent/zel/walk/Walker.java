package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.Deque;
import java.util.List;

/**
 * Walks the design hierarchy that an open configuration describes: from the top cell down, it
 * binds each instance of the current cell view, descends into what it binds to and stops where
 * the configuration says. The instances of a cell view come from its design file.
 */
public final class Walker {
    private final ZelConfig config;
    private final LibraryDefinitions libraries;
    private final ZelWarningListener warnings;
    private final int maxDepth;
    private final Deque<CellView> onPath = new ArrayDeque<>();

    /**
     * @param config    an open configuration
     * @param libraries the library directories, for the design files
     * @param warnings  receives the library's warnings and the walk's own (unreadable design files)
     * @param maxDepth  how many levels of instances below the top cell to walk
     */
    public Walker(ZelConfig config, LibraryDefinitions libraries, ZelWarningListener warnings, int maxDepth) {
        this.config = config;
        this.libraries = libraries;
        this.warnings = warnings;
        this.maxDepth = maxDepth;
    }

    /** The walked hierarchy, rooted at the top cell. */
    public Node walk() throws WalkException {
        CellView top = new CellView(config.getTopLibName(), config.getTopCellName(), config.getTopViewName());
        if (top.cell == null) {
            throw new WalkException(1, "the configuration names no top cell; set one with "
                                       + "'top LIB CELL VIEW' in its file");
        }
        ZelPathVector pv = ZelPathVector.create(config);
        if (pv.pathvector == 0) throw new WalkException(1, "no path vector over the configuration; is it open?");
        try {
            Node root = new Node(null, "", null);
            root.binding = top;
            if (!pv.pushCell(top.lib, top.cell, top.view, null)) {
                throw new WalkException(1, "the top cell " + top + " was refused; check 'top' in the configuration");
            }
            descend(pv, root, 0);
            return root;
        } finally {
            pv.destroy();
        }
    }

    // The path vector stands at the level of `node`'s binding; decides whether to go on, and
    // walks the instances of that level if so.
    private void descend(ZelPathVector pv, Node node, int depth) {
        if (pv.isAtStop()) {
            node.stopWhy = pv.getStopWhy();
            node.end = Node.End.STOP;
            return;
        }
        CellView here = node.binding;
        Path dir = viewDirectory(here);
        if (dir == null || !Files.isDirectory(dir)) {
            node.end = Node.End.NOT_IN_DESIGN;
            return;
        }
        if (onPath.contains(here)) {
            node.end = Node.End.RECURSIVE;
            return;
        }
        List<DesignFile.Instance> instances;
        try {
            instances = DesignFile.read(dir);
        } catch (DesignFile.DesignFileException e) {
            warnings.processWarning(e.getMessage());
            node.end = Node.End.DESIGN_FILE_ERROR;
            return;
        }
        if (instances.isEmpty()) return;
        if (depth >= maxDepth) {
            node.end = Node.End.DEPTH_LIMIT;
            return;
        }
        onPath.push(here);
        pv.isAnyInstRules();
        for (DesignFile.Instance inst : instances) {
            String path = node.path.isEmpty() ? inst.name : node.path + "/" + inst.name;
            Node child = new Node(inst.name, path, inst.master);
            node.children.add(child);
            pv.bind(inst.name, inst.master.lib, inst.master.cell, inst.master.view, true, true, false, warnings);
            child.answers = new BindAnswers(config, pv, inst.name, inst.master);
            child.binding = child.answers.binding();
            child.viewListKind = Labels.viewListKind(child.answers, node.viewListKind);
            if (child.binding == null) {
                child.end = Node.End.OPEN;
                continue;
            }
            if (!pv.pushCell(child.binding.lib, child.binding.cell, child.binding.view, inst.name)) {
                child.end = Node.End.TOO_DEEP;
                continue;
            }
            descend(pv, child, depth + 1);
            pv.popCell();
            pv.isAnyInstRules();  // popCell forgot the cached records of this level
        }
        onPath.pop();
    }

    private Path viewDirectory(CellView cv) {
        Path lib = libraries.directory(cv.lib);
        if (lib == null || cv.cell == null || cv.view == null) return null;
        if (!LibraryDefinitions.isPathComponent(cv.cell) || !LibraryDefinitions.isPathComponent(cv.view)) return null;
        return lib.resolve(cv.cell).resolve(cv.view);
    }
}
