package COM.morvent.zel.edit;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import COM.morvent.zel.walk.BindAnswers;
import COM.morvent.zel.walk.CellView;
import COM.morvent.zel.walk.Design;
import COM.morvent.zel.walk.DesignFile;
import COM.morvent.zel.walk.Diff;
import COM.morvent.zel.walk.Labels;
import COM.morvent.zel.walk.LibraryDefinitions;
import COM.morvent.zel.walk.Node;
import COM.morvent.zel.walk.Progress;
import COM.morvent.zel.walk.Rows;
import COM.morvent.zel.walk.WalkException;
import COM.morvent.zel.walk.WalkHeader;
import COM.morvent.zel.walk.WalkSink;
import COM.morvent.zel.walk.Walker;
import java.io.IOException;
import java.io.Writer;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.List;
import java.util.Map;

/**
 * The one configuration a server edits, open for editing, and everything the page asks of it.
 * Every browser tab talks to this one object: each request holds its lock from start to end, so
 * a tab sees another's edits at its next request and never half of one.
 *
 * <p>Nothing is kept of the hierarchy between requests: a level is bound anew through a path
 * vector each time it is asked for, so the rows always show the rules in force and the memory
 * does not grow with what was opened. The design files are read once and kept (bounded).
 */
final class Session {
    /** Warnings kept for the page; older ones go first. */
    private static final int WARNINGS_KEPT = 200;
    /** Lines of "Changes" sent at most; the walk stops there. */
    static final int CHANGES_LINES = 600;

    /** An answer the page shows as an error: a wrong request, a refused edit, a failed save. */
    static final class Refused extends Exception {
        private static final long serialVersionUID = 1L;
        final int status;

        Refused(int status, String message) {
            super(message);
            this.status = status;
        }
    }

    private final java.nio.file.Path definitionsFile;
    private final Design design;
    private final Deque<String> warnings = new ArrayDeque<>();
    private long warningCount;
    private final ZelWarningListener listener = this::warn;
    private CellView name;
    private ZelConfig config;
    /** Counts the changes every tab must see: edits, saves, reloads. */
    private long generation;
    private Lint.Findings lint;

    Session(java.nio.file.Path definitionsFile, CellView name) throws Refused {
        this.definitionsFile = definitionsFile;
        this.design = new Design(LibraryDefinitions.read(definitionsFile), listener, 200_000);
        this.name = name;
        this.config = open(name);
    }

    private synchronized void warn(String text) {
        warnings.addLast(text);
        ++warningCount;
        if (warnings.size() > WARNINGS_KEPT) warnings.removeFirst();
    }

    private ZelConfig open(CellView at) throws Refused {
        ZelConfig c = new ZelConfig();
        if (!c.open(at.lib, at.cell, at.view, "a", listener)) {
            throw new Refused(409, "configuration " + at + " does not open for editing" + lastWarning());
        }
        return c;
    }

    private synchronized String lastWarning() {
        return warnings.isEmpty() ? "" : ": " + warnings.peekLast();
    }

    synchronized void close() {
        if (config != null) config.close();
        config = null;
    }

    synchronized boolean modified() {
        return config != null && config.isModified();
    }

    synchronized CellView name() {
        return name;
    }

    /** The state every tab polls: what it shows in its head, and the warnings it has not seen. */
    synchronized String state(long since) {
        Json j = new Json().open();
        j.put("config", name.toString()).put("generation", generation).put("modified", config.isModified())
                .put("editable", config.isEditable()).put("revision", config.getRevision());
        WalkHeader header = Rows.header(config);
        j.put("top", new CellView(config.getTopLibName(), config.getTopCellName(), config.getTopViewName()).toString());
        j.put("defaultViews", header.defaultViewList).put("defaultLibs", header.defaultLibList);
        j.put("warningCount", warningCount).array("warnings");
        long first = warningCount - warnings.size();
        long n = first;
        for (String w : warnings) {
            if (n++ >= since) j.put(null, w);
        }
        j.end();
        j.put("lint", lint == null ? null : lint.summary);
        return j.close().toString();
    }

    // ---------------------------------------------------------------------------------------
    // The tree

    private Walker walker(boolean everything) {
        return new Walker(config, design, listener, Integer.MAX_VALUE, new Progress(null, false, false), everything);
    }

    /** Binds down the instance names of {@code path} from the top; gives the last node. */
    private static Node descend(Walker w, Node top, String[] path) throws Refused {
        Node node = top;
        for (String inst : path) {
            DesignFile.Instance[] below = Rows.below(node);
            int i = find(below, inst);
            if (i < 0) {
                throw new Refused(404, "no instance " + inst + " below " + (node.parent == null ? "the top" : node.path())
                                       + (below == null ? " (the walk does not go below it)" : ""));
            }
            node = w.bind(node, below[i], i == below.length - 1);
        }
        return node;
    }

    private static int find(DesignFile.Instance[] below, String inst) {
        if (below == null) return -1;
        for (int i = 0; i < below.length; ++i) {
            if (below[i].name.equals(inst)) return i;
        }
        return -1;
    }

    static String[] split(String path) {
        if (path == null || path.isEmpty()) return new String[0];
        return path.split("/", -1);
    }

    /** The rows below the instance at {@code path} ("" for the top), as the brief tree says them. */
    synchronized String children(String path) throws Refused {
        Walker w = walker(false);
        long t0 = System.nanoTime();
        try {
            Node top = w.start();
            Node node = descend(w, top, split(path));
            WalkHeader header = Rows.header(config);
            Json j = new Json().open().put("path", path);
            if (node.parent == null) {
                j.object("top").put("binding", node.binding.toString()).put("brief", Rows.brief(node, header))
                        .put("end", node.end.token).put("children", node.hasInstances()).close();
            }
            j.array("rows");
            DesignFile.Instance[] below = Rows.below(node);
            if (below != null) {
                for (int i = 0; i < below.length; ++i) {
                    Node child = w.bind(node, below[i], i == below.length - 1);
                    row(j.element(), child, header);
                    j.close();
                    w.leave(child);
                }
            }
            j.end().put("micros", (System.nanoTime() - t0) / 1000);
            return j.close().toString();
        } catch (WalkException e) {
            throw new Refused(409, e.getMessage());
        } finally {
            w.close();
        }
    }

    private void row(Json j, Node n, WalkHeader header) {
        j.put("name", n.name).put("path", n.path()).put("master", n.master.toString())
                .put("binding", n.binding == null ? null : n.binding.toString())
                .put("kind", Labels.viewChoice(n.answers).token).put("brief", Rows.brief(n, header))
                .put("end", n.end.token).put("children", n.hasInstances());
        if (lint != null) {
            List<String> found = lint.byPath.get(n.path());
            if (found != null) {
                j.array("lint");
                for (String f : found) j.put(null, f);
                j.end();
            }
        }
    }

    /** The panel of one instance: how it binds and why, and the rules that can apply there. */
    synchronized String instance(String path) throws Refused {
        String[] names = split(path);
        if (names.length == 0) throw new Refused(400, "give the path of an instance");
        Walker w = walker(true);
        try {
            Node top = w.start();
            String[] above = java.util.Arrays.copyOf(names, names.length - 1);
            Node parent = descend(w, top, above);
            String inst = names[names.length - 1];
            ZelPathVector pv = w.pathVector();
            // The instance rules live in the parent's bound cell view: read them before the
            // path vector goes down into the instance.
            String instView = pv.getContextUnInheritedInstViewBinding(inst);
            String instList = pv.getContextRawUnInheritedInstViewList(inst);
            Node node = descend(w, parent, new String[] {inst});
            BindAnswers a = node.answers;
            Labels.ViewChoice choice = Labels.viewChoice(a);
            CellView in = parent.binding;
            CellView m = node.master;
            Json j = new Json().open().put("path", path).put("name", inst).put("in", in.toString())
                    .put("master", m.toString()).put("binding", node.binding == null ? null : node.binding.toString())
                    .put("chosenBy", Labels.chosenBy(a)).put("kind", choice.token)
                    .put("rules", Rows.full(node)).put("end", node.end.token).put("endText", Rows.end(node))
                    .put("brief", Rows.brief(node, Rows.header(config)));
            j.put("libs", Rows.list(a.libList)).put("libsFrom", Labels.libListFrom(a))
                    .put("views", Rows.list(a.expandedViewList)).put("viewsFrom", Labels.viewListFrom(a, node.viewListKind))
                    .put("viewsWritten", a.viewList);
            j.array("stops");
            for (String s : Labels.stopNames(node.stopWhy)) j.put(null, s);
            j.end();
            j.object("instRule").put("view", instView).put("viewList", instList)
                    .put("open", choice == Labels.ViewChoice.INSTANCE_RULE && a.unbound)
                    .put("stop", (node.stopWhy & ZelPathVector.STOP_INSTANCE_RULE) != 0).close();
            j.object("occurRule")
                    .put("binding", choice == Labels.ViewChoice.OCCURRENCE_RULE && node.binding != null
                                    ? node.binding.toString() : null)
                    .put("stop", (node.stopWhy & ZelPathVector.STOP_OCCURRENCE_RULE) != 0).close();
            String cellLib = m.lib;
            j.object("cellRule").put("lib", cellLib).put("cell", m.cell)
                    .put("view", cellLib == null ? null : config.getCellViewBinding(cellLib, m.cell))
                    .put("viewList", cellLib == null ? null : config.getCellViewList(cellLib, m.cell))
                    .put("anyView", config.getCellViewBinding(null, m.cell))
                    .put("anyViewList", config.getCellViewList(null, m.cell))
                    .put("stop", (node.stopWhy & ZelPathVector.STOP_CELL_RULE) != 0).close();
            if (lint != null) {
                List<String> found = lint.byPath.get(path);
                j.array("lint");
                if (found != null) for (String f : found) j.put(null, f);
                j.end();
            }
            return j.close().toString();
        } catch (WalkException e) {
            throw new Refused(409, e.getMessage());
        } finally {
            w.close();
        }
    }

    /** The configuration's own settings: top, default lists, constants, note. */
    synchronized String settings() {
        Json j = new Json().open().put("config", name.toString())
                .put("topLib", config.getTopLibName()).put("topCell", config.getTopCellName())
                .put("topView", config.getTopViewName())
                .put("defaultViews", config.getDefaultViewListString())
                .put("defaultLibs", config.getDefaultLibListString())
                .put("defaultStops", config.getDefaultStopListString())
                .put("note", config.getNoteString());
        j.array("constants");
        // One cursor in the whole process: this lock is the only one that moves it.
        for (config.enumerateConstants(); config.hasMoreConstants(); config.nextConstant()) {
            j.element().put("name", config.getConstantName()).put("value", config.getConstantValue()).close();
        }
        j.end();
        return j.close().toString();
    }

    // ---------------------------------------------------------------------------------------
    // Edits

    /**
     * Applies one edit. {@code f} holds the request's fields: {@code op}, and as the edit needs
     * them {@code path}, {@code value}, {@code scope} ("lib" or "any" for cell rules),
     * {@code name}.
     */
    synchronized String edit(Map<String, String> f) throws Refused {
        if (!config.isEditable()) throw new Refused(409, "the configuration is open read-only");
        String op = need(f, "op");
        String value = f.get("value");
        boolean on = "true".equals(value);
        long before = warningCount;
        boolean ok;
        switch (op) {
            case "default-views": ok = config.setDefaultViewListString(list(value)); break;
            case "default-libs": ok = config.setDefaultLibListString(list(value)); break;
            case "default-stops": ok = config.setDefaultStopListString(list(value)); break;
            case "top": {
                CellView cv = cellView(value, "the top cell");
                ok = config.setTopCellViewName(cv.lib, cv.cell, cv.view);
                break;
            }
            case "constant": {
                String cname = word(need(f, "name"), "a constant's name");
                ok = value == null || value.isEmpty() ? config.deleteConstant(cname)
                                                      : config.replaceConstant(cname, line(value));
                break;
            }
            case "note": {
                ok = true;
                if (config.getNoteString() != null) ok = config.deleteNote();
                if (value != null && !value.isEmpty()) {
                    for (String l : value.replace("\r", "").split("\n", -1)) ok &= config.addNoteLine(line(l));
                }
                break;
            }
            default:
                ok = instanceEdit(op, f, value, on);
        }
        if (!ok) {
            String why = warningCount > before ? lastWarning() : "";
            throw new Refused(409, "the library refused the change" + why);
        }
        ++generation;
        return new Json().open().put("ok", true).put("generation", generation).put("modified", config.isModified())
                .close().toString();
    }

    private boolean instanceEdit(String op, Map<String, String> f, String value, boolean on) throws Refused {
        String[] names = split(need(f, "path"));
        if (names.length == 0) throw new Refused(400, "give the path of an instance");
        String inst = names[names.length - 1];
        Walker w = walker(false);
        try {
            Node top = w.start();
            Node parent = descend(w, top, java.util.Arrays.copyOf(names, names.length - 1));
            DesignFile.Instance[] below = Rows.below(parent);
            int i = find(below, inst);
            if (i < 0) throw new Refused(404, "no instance " + inst + " at " + String.join("/", names));
            CellView in = parent.binding;
            CellView m = below[i].master;
            boolean any = "any".equals(f.get("scope"));
            String cellLib = any ? null : m.lib;
            switch (op) {
                case "inst-view":
                    return empty(value) ? config.deleteInstViewBinding(in.lib, in.cell, in.view, inst)
                                        : config.replaceInstViewBinding(in.lib, in.cell, in.view, inst, word(value, "a view"));
                case "inst-list":
                    return empty(value) ? config.deleteInstViewList(in.lib, in.cell, in.view, inst)
                                        : config.replaceInstViewList(in.lib, in.cell, in.view, inst, list(value));
                case "inst-open":
                    return config.setBindToOpen(in.lib, in.cell, in.view, inst, on);
                case "inst-stop":
                    return config.setStopPointValue(in.lib, in.cell, in.view, inst, on);
                case "occur-bind": {
                    ZelPathVector pv = w.pathVector();
                    if (empty(value)) {
                        // Nothing to remove is no failure: the occurrence binds as asked.
                        config.deleteOccurBinding(pv.pathvector, inst);
                        return true;
                    }
                    CellView to = cellView(value, "the occurrence's binding");
                    return config.setOccurBinding(pv.pathvector, to.lib, to.cell, to.view, inst);
                }
                case "occur-stop":
                    return config.setOccurStopPointValue(w.pathVector().pathvector, inst, null, null, null, on) || !on;
                case "cell-view":
                    return empty(value) ? config.deleteCellViewBinding(cellLib, m.cell)
                                        : config.replaceCellViewBinding(cellLib, m.cell, word(value, "a view"));
                case "cell-list":
                    return empty(value) ? config.deleteCellViewList(cellLib, m.cell)
                                        : config.replaceCellViewList(cellLib, m.cell, list(value));
                case "cell-stop":
                    return config.setStopPointValue(cellLib, m.cell, null, null, on);
                default:
                    throw new Refused(400, "unknown edit '" + op + "'");
            }
        } catch (WalkException e) {
            throw new Refused(409, e.getMessage());
        } finally {
            w.close();
        }
    }

    private static boolean empty(String s) {
        return s == null || s.trim().isEmpty();
    }

    private static String need(Map<String, String> f, String key) throws Refused {
        String v = f.get(key);
        if (v == null) throw new Refused(400, "the request lacks '" + key + "'");
        return v;
    }

    /** One name: no blank, no control character, nothing that reaches outside a directory. */
    static String word(String s, String what) throws Refused {
        // Blanks around a name are dropped; a control character anywhere refuses it (trim would
        // drop one at either end too).
        String t = s == null ? "" : s.strip();
        if (!Rows.isName(t) || !s.codePoints().noneMatch(Character::isISOControl)
            || !t.codePoints().noneMatch(Character::isWhitespace)) {
            throw new Refused(400, "'" + s + "' is not a name for " + what + ": one word without '/'");
        }
        return t;
    }

    /** A word list: blanks between words; null for an empty one (the rule goes). */
    private static String list(String s) throws Refused {
        if (s == null) return null;
        String t = line(s).trim().replaceAll("\\s+", " ");
        return t.isEmpty() ? null : t;
    }

    private static String line(String s) throws Refused {
        if (s == null) return null;
        if (!s.codePoints().noneMatch(c -> Character.isISOControl(c) && c != '\t')) {
            throw new Refused(400, "a line cannot hold control characters");
        }
        return s;
    }

    /** LIB/CELL/VIEW, each a name. */
    static CellView cellView(String s, String what) throws Refused {
        String[] p = s == null ? new String[0] : s.trim().split("/", -1);
        if (p.length != 3) throw new Refused(400, what + " takes LIB/CELL/VIEW, not '" + s + "'");
        return new CellView(word(p[0], "a library"), word(p[1], "a cell"), word(p[2], "a view"));
    }

    // ---------------------------------------------------------------------------------------
    // Saving

    /** Saves where it was opened; refused with the library's warning when another writer got there first. */
    synchronized String save() throws Refused {
        long before = warningCount;
        if (!config.save(listener)) {
            throw new Refused(409, "not saved" + (warningCount > before ? lastWarning() : ""));
        }
        ++generation;
        return new Json().open().put("ok", true).put("config", name.toString()).close().toString();
    }

    /** Saves under another name and goes on editing that one. */
    synchronized String saveAs(String where) throws Refused {
        CellView to = cellView(where, "save as");
        long before = warningCount;
        if (!config.saveAs(to.lib, to.cell, to.view, listener)) {
            throw new Refused(409, "not saved as " + to + (warningCount > before ? lastWarning() : ""));
        }
        ZelConfig reopened = open(to);
        config.close();
        config = reopened;
        name = to;
        ++generation;
        return new Json().open().put("ok", true).put("config", name.toString()).close().toString();
    }

    /** Drops the edits and reads the file again (after another writer's save, or to revert). */
    synchronized String reload() throws Refused {
        ZelConfig reopened = open(name);
        config.close();
        config = reopened;
        ++generation;
        return new Json().open().put("ok", true).put("config", name.toString()).close().toString();
    }

    // ---------------------------------------------------------------------------------------
    // Changes and search

    /** The walk's difference between the saved file (A) and the open configuration (B). */
    synchronized String changes() throws Refused {
        ZelConfig saved = new ZelConfig();
        if (!saved.open(name.lib, name.cell, name.view, "r", listener)) {
            throw new Refused(409, "the saved configuration " + name + " does not open" + lastWarning());
        }
        Lines out = new Lines(CHANGES_LINES);
        try {
            // Both walk the whole design, each level's instances in turn: a level a call.
            Walker a = new Walker(saved, design, listener, Integer.MAX_VALUE, new Progress(null, false, false), true)
                    .wholeLevels(true);
            Walker b = walker(true).wholeLevels(true);
            try {
                new Diff(out, a, Rows.header(saved), b, Rows.header(config)).run();
            } catch (Lines.Full e) {
                out.cut = true;
            }
        } catch (WalkException | IOException e) {
            throw new Refused(409, "no changes: " + e.getMessage());
        } finally {
            saved.close();
        }
        Json j = new Json().open().put("cut", out.cut).array("lines");
        for (String l : out.lines) j.put(null, l);
        return j.end().close().toString();
    }

    /** Lines written, up to a number; then the writer throws to end the walk that writes. */
    private static final class Lines extends Writer {
        static final class Full extends IOException {
            private static final long serialVersionUID = 1L;
        }

        final List<String> lines = new ArrayList<>();
        final int max;
        final StringBuilder line = new StringBuilder();
        boolean cut;

        Lines(int max) {
            this.max = max;
        }

        @Override
        public void write(char[] b, int off, int len) throws IOException {
            for (int i = off; i < off + len; ++i) {
                if (b[i] != '\n') {
                    line.append(b[i]);
                    continue;
                }
                if (lines.size() >= max) throw new Full();
                lines.add(line.toString());
                line.setLength(0);
            }
        }

        @Override
        public void flush() {
        }

        @Override
        public void close() {
        }
    }

    /**
     * Walks the hierarchy for instances whose name, path, master cell or bound cell holds
     * {@code q}; gives those from {@code offset} on, at most {@code limit}, and whether more
     * follow. The walk stops at the first match past them.
     */
    synchronized String search(String q, int offset, int limit) throws Refused {
        if (q == null || q.isEmpty()) throw new Refused(400, "give something to search for");
        Walker w = walker(false);
        WalkHeader header = Rows.header(config);
        Json j = new Json().open().put("q", q).put("offset", offset).array("rows");
        final class Enough extends IOException {
            private static final long serialVersionUID = 1L;
        }
        long[] seen = {0, 0};
        boolean more = false;
        try {
            w.walk(new WalkSink() {
                @Override
                public void start(Node top) {
                }

                @Override
                public void enter(Node n) throws IOException {
                    ++seen[1];
                    if (!matches(n, q)) return;
                    long k = seen[0]++;
                    if (k < offset) return;
                    if (k >= (long) offset + limit) throw new Enough();
                    row(j.element(), n, header);
                    j.close();
                }

                @Override
                public void leave(Node n) {
                }

                @Override
                public void finish(Node top) {
                }
            });
        } catch (Enough e) {
            more = true;
        } catch (WalkException | IOException e) {
            throw new Refused(409, e.getMessage());
        }
        return j.end().put("more", more).put("visited", seen[1]).close().toString();
    }

    private static boolean matches(Node n, String q) {
        if (n.name.contains(q) || n.master.cell != null && n.master.cell.contains(q)) return true;
        if (n.binding != null && n.binding.cell != null && n.binding.cell.contains(q)) return true;
        return q.indexOf('/') >= 0 && n.path().contains(q);
    }

    // ---------------------------------------------------------------------------------------
    // Lint

    /** Runs the lint over the saved file and keeps its findings for the rows. */
    synchronized String lint() throws Refused {
        lint = Lint.run(name, definitionsFile, listener);
        // A finding names an instance path, a cell view or a library: the page links those
        // that are instances of the open configuration's hierarchy.
        java.util.Set<String> instances = new java.util.HashSet<>();
        Walker w = walker(false);
        try {
            Node top = w.start();
            int tried = 0;
            for (Lint.Item f : lint.all) {
                if (f.path == null || f.path.contains("*") || instances.contains(f.path) || ++tried > 1000) continue;
                try {
                    Node n = descend(w, top, split(f.path));
                    instances.add(f.path);
                    for (; n.parent != null; n = n.parent) w.leave(n);
                } catch (Refused e) {
                    // Not an instance; descend left the path vector where it stopped.
                    w.close();
                    w = walker(false);
                    top = w.start();
                }
            }
        } catch (WalkException e) {
            throw new Refused(409, e.getMessage());
        } finally {
            w.close();
        }
        lint.byPath.keySet().retainAll(instances);
        ++generation;
        Json j = new Json().open().put("summary", lint.summary).array("findings");
        for (Lint.Item f : lint.all) {
            j.element().put("path", f.path).put("instance", instances.contains(f.path)).put("text", f.text).close();
        }
        return j.end().close().toString();
    }
}
