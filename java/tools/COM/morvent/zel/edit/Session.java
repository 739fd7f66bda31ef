package COM.morvent.zel.edit;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelRules;
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
 * Every browser tab talks to this one object: each short request holds its lock from start to
 * end, so a tab sees another's edits at its next request and never half of one. The long ones
 * (Changes, lint, search, the table) take a copy of the rules under the lock and walk a copy of
 * the configuration of their own without it, so that rows and polls are answered meanwhile; an
 * edit made during such a walk marks its answer stale.
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
    /** Written under the warnings' lock; read by the requests to tell whether a call warned. */
    private volatile long warningCount;
    private final ZelWarningListener listener = this::warn;
    private CellView name;
    private ZelConfig config;
    /** Counts the changes every tab must see: edits, saves, reloads. */
    private long generation;
    /** The last lint's findings, for the rows; set whole, read without the lock by the walks. */
    private volatile Lint.Findings lint;
    /** Counts the lints run: the tabs mark their rows anew when it moves. */
    private volatile long lintRuns;
    private final LibraryDefinitions libraries;
    /** The rules before each edit, newest last, and those an undo left, for redo; shared by every tab. */
    private final Deque<List<ZelRules.Rule>> undo = new ArrayDeque<>();
    private final Deque<List<ZelRules.Rule>> redo = new ArrayDeque<>();
    private static final int UNDO_KEPT = 500;
    /** The last save: where, which revision, when (ms); null before any. */
    private String lastSave;
    /** The file as this session last read or wrote it (time and size): another program's save changes it. */
    private String fileStamp;
    /** Why a save of the configuration cannot succeed, or null: then the page is read-only and says why. */
    private String readOnly;

    Session(java.nio.file.Path definitionsFile, CellView name) throws Refused {
        this.definitionsFile = definitionsFile;
        this.libraries = LibraryDefinitions.loaded();
        this.design = new Design(libraries, listener, 200_000);
        this.name = name;
        this.config = open(name);
        this.readOnly = whyReadOnly(name);
        this.fileStamp = fileStamp();
    }

    private String fileStamp() {
        java.nio.file.Path lib = libraries.directory(name.lib);
        if (lib == null) return "";
        java.nio.file.Path file = lib.resolve(name.cell).resolve(name.view).resolve("config.zel");
        try {
            return java.nio.file.Files.getLastModifiedTime(file).toMillis() + "/" + java.nio.file.Files.size(file);
        } catch (IOException e) {
            return "";
        }
    }

    /**
     * Tries what a save does, writing a new file beside the configuration's, so that edits a
     * save would lose are refused at once rather than at Save.
     */
    private String whyReadOnly(CellView at) {
        java.nio.file.Path lib = libraries.directory(at.lib);
        if (lib == null) return null;  // the library's own warning says more at save
        java.nio.file.Path dir = lib.resolve(at.cell).resolve(at.view);
        java.nio.file.Path file = dir.resolve("config.zel");
        try {
            java.nio.file.Files.delete(java.nio.file.Files.createTempFile(dir, ".zel-edit-", ".probe"));
        } catch (IOException | SecurityException e) {
            return "the folder " + dir + " cannot be written, so a save would fail; use Save as to keep edits elsewhere";
        }
        if (java.nio.file.Files.exists(file) && !java.nio.file.Files.isWritable(file)) {
            return "the file " + file + " cannot be written, so a save would fail; use Save as to keep edits elsewhere";
        }
        return null;
    }

    // The warnings have a lock of their own: a walk without the session's lock warns too, from
    // inside the library and the design's lock, while a request holding the session's lock may
    // wait for the design.
    private void warn(String text) {
        synchronized (warnings) {
            warnings.addLast(COM.morvent.zel.walk.Zel.inZelWords(text));
            ++warningCount;
            if (warnings.size() > WARNINGS_KEPT) warnings.removeFirst();
        }
    }

    private ZelConfig open(CellView at) throws Refused {
        ZelConfig c = new ZelConfig();
        if (!c.open(at.lib, at.cell, at.view, "a", listener)) {
            throw new Refused(409, "configuration " + at + " does not open for editing" + lastWarning());
        }
        return c;
    }

    private String lastWarning() {
        synchronized (warnings) {
            return warnings.isEmpty() ? "" : ": " + warnings.peekLast();
        }
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
                .put("editable", config.isEditable() && readOnly == null).put("readOnly", readOnly)
                .put("revision", config.getRevision()).put("undo", undo.size()).put("redo", redo.size())
                .put("lastSave", lastSave).put("changedOnDisk", !fileStamp().equals(fileStamp));
        WalkHeader header = Rows.header(config);
        j.put("top", new CellView(config.getTopLibName(), config.getTopCellName(), config.getTopViewName()).toString());
        j.put("defaultViews", header.defaultViewList).put("defaultLibs", header.defaultLibList);
        synchronized (warnings) {
            j.put("warningCount", warningCount).array("warnings");
            long n = warningCount - warnings.size();
            for (String w : warnings) {
                if (n++ >= since) j.put(null, w);
            }
            j.end();
        }
        Lint.Findings found = lint;
        j.put("lint", found == null ? null : found.summary).put("lintRuns", lintRuns);
        return j.close().toString();
    }

    // ---------------------------------------------------------------------------------------
    // The tree

    private Walker walker(boolean everything) {
        return walker(config, new Progress(null, false, false), everything);
    }

    private Walker walker(ZelConfig over, Progress progress, boolean everything) {
        return new Walker(over, design, listener, Integer.MAX_VALUE, progress, everything);
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

    /** The instance names of a path as {@link Node#path} writes it ('/' and '\\' in a name escaped). */
    static String[] split(String path) {
        if (path == null || path.isEmpty()) return new String[0];
        List<String> names = new ArrayList<>();
        StringBuilder name = new StringBuilder();
        for (int i = 0; i < path.length(); ++i) {
            char c = path.charAt(i);
            if (c == '\\' && i + 1 < path.length()) {
                name.append(path.charAt(++i));
            } else if (c == '/') {
                names.add(name.toString());
                name.setLength(0);
            } else {
                name.append(c);
            }
        }
        names.add(name.toString());
        return names.toArray(new String[0]);
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
        Lint.Findings lint = this.lint;
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
            // The views on disk of the master cell, offered as the user types a view.
            j.array("viewsOnDisk");
            for (String v : viewsOnDisk(m)) j.put(null, v);
            j.end();
            Decided decided = decidingRule(ZelRules.list(config), node);
            if (decided.rule != null) {
                ZelRules.Rule r = decided.rule;
                j.object("decided").put("kind", r.kind()).put("scope", scopeText(r.scope()))
                        .put("property", r.property()).put("value", r.valueText()).put("text", r.toString())
                        .put("open", "bind".equals(r.property()) && r.bindsToOpen()).put("line", r.line())
                        .put("binding", decided.binding).put("from", decided.from).close();
            }
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

    /** The rules of the open configuration by their names, for the look-ups the library makes. */
    private static final class RuleIndex {
        private final Map<String, ZelRules.Rule> byName = new java.util.HashMap<>();

        RuleIndex(List<ZelRules.Rule> rules) {
            for (ZelRules.Rule r : rules) byName.putIfAbsent(key(r.kind(), r.property(), r.scope()), r);
        }

        ZelRules.Rule get(String kind, String property, String... scope) {
            return byName.get(key(kind, property, java.util.Arrays.asList(scope)));
        }

        private static String key(String kind, String property, List<String> scope) {
            StringBuilder b = new StringBuilder(kind).append('\0').append(property);
            for (String n : scope) b.append('\0').append(n == null ? "\1*" : n);
            return b.toString();
        }
    }

    /** The rule that decided, and what it decided (binding or view list), and the level it came down from. */
    private static final class Decided {
        final ZelRules.Rule rule;
        final boolean binding;
        final String from;

        Decided(ZelRules.Rule rule, boolean binding, String from) {
            this.rule = rule;
            this.binding = binding;
            this.from = from;
        }
    }

    /**
     * The rule that decided the instance's binding, looked up as the library binds (zelvek's
     * bind): an occurrence's binding; an instance rule's {@code bind}, then its view binding, each
     * in the holding cell view's library and view, that library and any view, any library and that
     * view, any library and any view; the master cell's binding, its library's rule before any
     * library's. Without one, the rule whose view list the view was taken from: the occurrence's,
     * the instance rule's (same order), the cell's, the master library's, one an instance or
     * occurrence rule above passes down, or the default.
     */
    static Decided decidingRule(List<ZelRules.Rule> rules, Node n) {
        RuleIndex x = new RuleIndex(rules);
        CellView in = n.parent.binding;
        String[] occ = split(n.path());
        ZelRules.Rule r = x.get("occurrence", "bind", occ);
        for (String property : new String[] {"bind", "view-binding"}) {
            for (String lib : new String[] {in.lib, null}) {
                for (String view : new String[] {in.view, null}) {
                    if (r == null) r = x.get("inst", property, lib, in.cell, view, n.name);
                }
            }
        }
        CellView m = n.master;
        if (r == null && m.cell != null && !m.cell.isEmpty()) {
            // The master's library's cell rule, then any library's: the first with a binding.
            for (String lib : m.lib != null && !m.lib.isEmpty() ? new String[] {m.lib, null} : new String[] {null}) {
                if (r == null) r = x.get("cell", "view-binding", lib, m.cell);
                if (r == null) r = x.get("cell", "bind", lib, m.cell);
            }
        }
        if (r != null) return new Decided(r, true, null);
        ZelRules.Rule list = viewListRule(x, n);
        Node from = n;
        while (list != null && from.parent != null && ownViewList(x, from) != list) from = from.parent;
        return new Decided(list, false, from == n || from.parent == null ? null : from.path());
    }

    /** The rule of the view list in effect for instance {@code n}; null for no default list. */
    private static ZelRules.Rule viewListRule(RuleIndex x, Node n) {
        ZelRules.Rule own = ownViewList(x, n);
        if (own != null) return own;
        // The level's list passes down when an instance or occurrence rule gave it; the top's is the default.
        if (n.parent.parent != null) {
            ZelRules.Rule above = viewListRule(x, n.parent);
            if (above != null && (above.kind().equals("inst") || above.kind().equals("occurrence"))) return above;
        }
        return x.get("default-views", null);
    }

    /** The view list of the instance's own rules: occurrence, instance, cell, library. */
    private static ZelRules.Rule ownViewList(RuleIndex x, Node n) {
        ZelRules.Rule r = x.get("occurrence", "views", split(n.path()));
        CellView in = n.parent.binding;
        for (String lib : new String[] {in.lib, null}) {
            for (String view : new String[] {in.view, null}) {
                if (r == null) r = x.get("inst", "views", lib, in.cell, view, n.name);
            }
        }
        CellView m = n.master;
        boolean hasLib = m.lib != null && !m.lib.isEmpty();
        if (m.cell != null && !m.cell.isEmpty()) {
            if (r == null && hasLib) r = x.get("cell", "views", m.lib, m.cell);
            if (r == null) r = x.get("cell", "views", (String) null, m.cell);
        }
        if (r == null && hasLib) r = x.get("library", "views", m.lib);
        return r;
    }

    /** The views of a cell on disk, in its own library, sorted; none when it cannot be read. */
    private List<String> viewsOnDisk(CellView m) {
        java.nio.file.Path lib = m.lib == null ? null : libraries.directory(m.lib);
        return lib == null || !Rows.isName(m.cell) ? new ArrayList<>() : folders(lib.resolve(m.cell));
    }

    /** The folders in a folder, sorted: the cells of a library, the views of a cell. */
    private static List<String> folders(java.nio.file.Path dir) {
        List<String> names = new ArrayList<>();
        try (java.util.stream.Stream<java.nio.file.Path> s = java.nio.file.Files.list(dir)) {
            s.filter(java.nio.file.Files::isDirectory).map(v -> v.getFileName().toString())
                    .filter(Rows::isName).forEach(names::add);
        } catch (IOException | java.io.UncheckedIOException e) {
            // an unreadable folder offers no names
        }
        names.sort(null);
        return names;
    }

    /**
     * The names offered as a LIB/CELL/VIEW is typed: the libraries of the definitions, the cells
     * of {@code lib} on disk, the views of its {@code cell}; null where the name above is nowhere.
     */
    String names(String lib, String cell) {
        Json j = new Json().open().array("libs");
        for (String l : libraries.names()) j.put(null, l);
        j.end();
        java.nio.file.Path dir = lib == null || lib.isEmpty() ? null : libraries.directory(lib);  // a defined library's, never a path
        List<String> cells = dir == null ? null : folders(dir);
        if (cells != null) {
            j.array("cells");
            for (String c : cells) j.put(null, c);
            j.end();
        }
        if (cells != null && cell != null && cells.contains(cell)) {
            j.array("views");
            for (String v : folders(dir.resolve(cell))) j.put(null, v);
            j.end();
        }
        return j.close().toString();
    }

    /** A rule's names as the page sends them back: joined by '/', {@code *} for any. */
    static String scopeText(List<String> scope) {
        StringBuilder b = new StringBuilder();
        for (String n : scope) {
            if (b.length() > 0) b.append('/');
            // An occurrence's instance names are written as a path writes them ('/' and '\\' escaped).
            b.append(n == null ? "*" : n.replace("\\", "\\\\").replace("/", "\\/"));
        }
        return b.toString();
    }

    /** Sets or removes the rule the page names by its kind, names and property. */
    private boolean ruleEdit(Map<String, String> f, boolean remove) throws Refused {
        String kind = need(f, "kind");
        boolean occurrence = kind.equals("occurrence");
        int size = kind.equals("inst") ? 4 : kind.equals("cell") ? 2 : kind.equals("library") ? 1 : occurrence ? 0 : -1;
        if (size < 0) throw new Refused(400, "a rule here is an inst, cell, library or occurrence rule, not '" + kind + "'");
        // Names as a path writes them: an instance's '/' escaped.
        String[] words = split(need(f, "scope"));
        if (occurrence ? words.length == 0 : words.length != size) {
            throw new Refused(400, "a " + kind + " rule takes " + (occurrence ? "the path of an instance" : size + " names")
                                   + ", not '" + f.get("scope") + "'");
        }
        List<String> scope = new ArrayList<>();
        // An occurrence names instances, never "any".
        for (String w : words) scope.add(w.equals("*") && !occurrence ? null : word(w, "a name of the rule"));
        String property = need(f, "property");
        String value = f.get("value");
        String shown = kind + " " + String.join(" ", words) + " " + property;
        if (remove) {
            boolean held = false;
            for (ZelRules.Rule r : ZelRules.list(config)) {
                if (r.kind().equals(kind) && r.scope().equals(scope) && property.equals(r.property())) held = true;
            }
            if (!held) throw new Refused(409, "there is no rule " + shown + " to remove (another tab may have removed it)");
            return ZelRules.remove(config, kind, scope, property, listener);
        }
        List<String> values;
        switch (property) {
            case "view-binding":
                values = List.of(word(value, "a view"));
                break;
            case "views":
            case "libs":
            case "stops":
                values = List.of(list(value));
                break;
            case "bind": {
                // "open" as the panel shows a bind to open: no LIB/CELL/VIEW is one word.
                if (value.trim().equals("open")) {
                    values = List.of("", "", "");
                    break;
                }
                CellView to = cellView(value, "the binding");
                values = List.of(to.lib, to.cell, to.view);
                break;
            }
            default:
                throw new Refused(400, "the editor sets view-binding, views, libs, stops or bind here, not '" + property + "'");
        }
        if (kind.equals("library") && !property.equals("views") && !property.equals("stops")) {
            throw new Refused(409, "a library rule holds a view list or a stop list, not " + property
                                   + "; choose the cell or an instance for it");
        }
        return ZelRules.set(config, kind, scope, property, values, listener);
    }

    /** Takes back the last edit (undo) or the last undo (redo), whichever tab made it. */
    synchronized String undo(boolean back) throws Refused {
        if (readOnly != null) throw new Refused(409, "read-only: " + readOnly);
        Deque<List<ZelRules.Rule>> from = back ? undo : redo;
        Deque<List<ZelRules.Rule>> to = back ? redo : undo;
        if (from.isEmpty()) throw new Refused(409, back ? "nothing to undo" : "nothing to redo");
        List<ZelRules.Rule> now = ZelRules.list(config);
        restore(from.peekLast());
        from.removeLast();
        to.addLast(now);
        ++generation;
        return new Json().open().put("ok", true).put("generation", generation).put("modified", config.isModified())
                .put("undo", undo.size()).put("redo", redo.size()).close().toString();
    }

    private static String identity(ZelRules.Rule r) {
        return r.kind() + "\0" + r.scope() + "\0" + r.property();
    }

    private static boolean sameRules(List<ZelRules.Rule> a, List<ZelRules.Rule> b) {
        if (a.size() != b.size()) return false;
        for (int i = 0; i < a.size(); ++i) {
            if (!identity(a.get(i)).equals(identity(b.get(i))) || !a.get(i).values().equals(b.get(i).values())) return false;
        }
        return true;
    }

    private static List<String> noteLines(List<ZelRules.Rule> rules) {
        List<String> lines = new ArrayList<>();
        for (ZelRules.Rule r : rules) if (r.kind().equals("note")) lines.add(r.value());
        return lines;
    }

    private void restore(List<ZelRules.Rule> target) throws Refused {
        restore(config, target);
    }

    /** Makes {@code config} (the open one, or a walk's copy) hold {@code target}'s rules: removes, sets and sets back rule by rule. */
    private void restore(ZelConfig config, List<ZelRules.Rule> target) throws Refused {
        List<ZelRules.Rule> current = ZelRules.list(config);
        Map<String, ZelRules.Rule> want = new java.util.LinkedHashMap<>();
        for (ZelRules.Rule r : target) if (!r.kind().equals("note")) want.putIfAbsent(identity(r), r);
        boolean ok = true;
        for (ZelRules.Rule r : current) {
            if (!r.kind().equals("note") && !want.containsKey(identity(r))) ok &= ZelRules.remove(config, r, listener);
        }
        Map<String, ZelRules.Rule> have = new java.util.HashMap<>();
        for (ZelRules.Rule r : ZelRules.list(config)) if (!r.kind().equals("note")) have.putIfAbsent(identity(r), r);
        for (ZelRules.Rule r : want.values()) {
            ZelRules.Rule h = have.get(identity(r));
            if (h == null || !h.values().equals(r.values())) ok &= ZelRules.set(config, r, listener);
            // A rule back after a save dropped its lines: its comment with it (false, and no
            // harm, where the file still holds its line and comment).
            if (h == null && r.comment() != null) ZelRules.setComment(config, r, listener);
        }
        List<String> lines = noteLines(target);
        if (!lines.equals(noteLines(current))) {
            if (!noteLines(current).isEmpty()) ok &= ZelRules.remove(config, "note", List.of(), null, listener);
            if (!lines.isEmpty()) ok &= ZelRules.set(config, "note", List.of(), null, lines, listener);
        }
        if (!ok) throw new Refused(409, "the library refused to take the edit back" + lastWarning());
    }

    /** The rules that differ between the saved file and the open configuration, one line each. */
    private static List<String> rulesChanged(List<ZelRules.Rule> saved, List<ZelRules.Rule> edited) {
        Map<String, ZelRules.Rule> a = new java.util.LinkedHashMap<>();
        Map<String, ZelRules.Rule> b = new java.util.LinkedHashMap<>();
        for (ZelRules.Rule r : saved) if (!r.kind().equals("note")) a.putIfAbsent(identity(r), r);
        for (ZelRules.Rule r : edited) if (!r.kind().equals("note")) b.putIfAbsent(identity(r), r);
        List<String> lines = new ArrayList<>();
        for (ZelRules.Rule r : a.values()) {
            ZelRules.Rule e = b.get(identity(r));
            if (e == null) lines.add("- " + r + (r.line() > 0 ? "  (line " + r.line() + ")" : ""));
            else if (!e.values().equals(r.values())) lines.add("~ " + r + "  ->  " + e.valueText()
                                                               + (r.line() > 0 ? "  (line " + r.line() + ")" : ""));
        }
        for (ZelRules.Rule r : b.values()) if (!a.containsKey(identity(r))) lines.add("+ " + r);
        if (!noteLines(saved).equals(noteLines(edited))) lines.add("~ note");
        return lines;
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
        if (readOnly != null) throw new Refused(409, "read-only: " + readOnly);
        if (!config.isEditable()) throw new Refused(409, "the configuration is open read-only");
        String op = need(f, "op");
        String value = f.get("value");
        boolean on = "true".equals(value);
        long before = warningCount;
        List<ZelRules.Rule> rulesBefore = ZelRules.list(config);
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
            case "rule":
            case "rule-remove":
                ok = ruleEdit(f, op.equals("rule-remove"));
                break;
            default:
                ok = instanceEdit(op, f, value, on);
        }
        if (!ok) {
            String why = warningCount > before ? lastWarning() : "";
            throw new Refused(409, "the library refused the change" + why);
        }
        if (!sameRules(rulesBefore, ZelRules.list(config))) {
            undo.addLast(rulesBefore);
            if (undo.size() > UNDO_KEPT) undo.removeFirst();
            redo.clear();
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
        if (readOnly != null) throw new Refused(409, "read-only: " + readOnly);
        long before = warningCount;
        if (!config.save(listener)) {
            throw new Refused(409, "not saved" + (warningCount > before ? lastWarning() : ""));
        }
        ++generation;
        saved();
        return new Json().open().put("ok", true).put("config", name.toString()).put("lastSave", lastSave).close().toString();
    }

    /** Notes the save just made, for the line the page keeps: the file, its revision, the time. */
    private void saved() {
        fileStamp = fileStamp();
        java.nio.file.Path lib = libraries.directory(name.lib);
        String file = lib == null ? name.toString() : lib.resolve(name.cell).resolve(name.view).resolve("config.zel").toString();
        lastSave = "Saved " + name + " as revision " + config.getRevision() + " to " + file + " at "
                   + java.time.LocalTime.now().withNano(0);
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
        readOnly = whyReadOnly(to);
        undo.clear();
        redo.clear();
        saved();
        ++generation;
        return new Json().open().put("ok", true).put("config", name.toString()).close().toString();
    }

    /** Drops the edits and reads the file again (after another writer's save, or to revert). */
    synchronized String reload() throws Refused {
        ZelConfig reopened = open(name);
        config.close();
        config = reopened;
        readOnly = whyReadOnly(name);
        fileStamp = fileStamp();
        undo.clear();
        redo.clear();
        ++generation;
        return new Json().open().put("ok", true).put("config", name.toString()).close().toString();
    }

    // ---------------------------------------------------------------------------------------
    // Long work: on a copy, with progress, cancellable

    /** A long request under way: what it does, how far its walk got, and its stop. */
    static final class Job {
        final String kind;
        /** Names it for its own tab's Cancel; null when the tab gave none. */
        final String id;
        final long started = System.nanoTime();
        final Progress progress = new Progress(null, false, false);

        Job(String kind, String id) {
            this.kind = kind;
            this.id = id;
        }
    }

    private final java.util.Set<Job> jobs = java.util.concurrent.ConcurrentHashMap.newKeySet();
    /** Hook for the tests: runs in each long request once its copy is made, before its walk. */
    static java.util.function.Consumer<Job> atJobStart;
    /** Hook for the tests: runs at each instance a search meets. */
    static Runnable duringSearch;
    /**
     * A pause (ms) before each long request's walk, in which it answers Cancel: lets the browser
     * tests act while one runs on the small example (system property zel.edit.holdMs).
     */
    private static final long HOLD_MS = Long.getLong("zel.edit.holdMs", 0);

    /** Cancels that came before their request (they travel apart), newest last; a few kept. */
    private final Deque<String> cancelledFirst = new ArrayDeque<>();
    private static final int CANCELLED_FIRST_KEPT = 64;

    /** Stops the long requests under way: the one {@code id} names, or every one when null. Takes no lock. */
    String cancel(String id) {
        int n = 0;
        boolean named = id != null && !id.isEmpty();
        for (Job j : jobs) {
            if (!named || id.equals(j.id)) {
                j.progress.stop();
                ++n;
            }
        }
        if (named && n == 0) {
            synchronized (cancelledFirst) {
                cancelledFirst.addLast(id);
                if (cancelledFirst.size() > CANCELLED_FIRST_KEPT) cancelledFirst.removeFirst();
            }
        }
        return new Json().open().put("ok", true).put("stopped", n).close().toString();
    }

    /** The long requests under way and the instances each has walked; takes no lock. */
    String progress() {
        Json j = new Json().open().array("jobs");
        for (Job job : jobs) {
            j.element().put("kind", job.kind).put("id", job.id).put("walked", job.progress.walked())
                    .put("ms", (System.nanoTime() - job.started) / 1_000_000).close();
        }
        return j.end().close().toString();
    }

    /** Thrown out of a walk that a tab cancelled. */
    private static final class Cancelled extends IOException {
        private static final long serialVersionUID = 1L;
    }

    /**
     * The configuration as edited, as of one moment, for a long request to walk without the
     * session's lock: the stored file opened anew and given the open one's rules.
     */
    private final class Copy implements AutoCloseable {
        final List<ZelRules.Rule> rules;
        final long generation;
        final CellView name;
        ZelConfig config;

        Copy() {
            synchronized (Session.this) {
                rules = ZelRules.list(Session.this.config);
                generation = Session.this.generation;
                name = Session.this.name;
            }
        }

        /** Opens the copy; what the rules alone tell needs none. */
        ZelConfig open() throws Refused {
            if (config != null) return config;
            ZelConfig c = new ZelConfig();
            if (!c.open(name.lib, name.cell, name.view, "a", listener)) {
                throw new Refused(409, "no copy of " + name + " to walk" + lastWarning());
            }
            try {
                restore(c, rules);
            } catch (Refused | RuntimeException e) {
                c.close();
                throw e;
            }
            return config = c;
        }

        /** Whether an edit, save or reload came after the copy: its answer no longer holds. */
        boolean stale() {
            synchronized (Session.this) {
                return Session.this.generation != generation;
            }
        }

        @Override
        public void close() {
            if (config != null) config.close();
            config = null;
        }
    }

    /** Runs one long request as a job others can see and stop; its copy is closed however it ends. */
    private interface Work {
        String run(Copy copy, Job job) throws Refused, WalkException, IOException;
    }

    private String longWork(String kind, String id, Work work) throws Refused {
        Job job = new Job(kind, id);
        jobs.add(job);
        synchronized (cancelledFirst) {
            if (id != null && cancelledFirst.remove(id)) job.progress.stop();
        }
        try (Copy copy = new Copy()) {
            if (job.progress.stopping()) throw new Cancelled();  // its Cancel came first
            if (atJobStart != null) atJobStart.accept(job);
            for (long end = System.nanoTime() + HOLD_MS * 1_000_000; System.nanoTime() - end < 0;) {
                if (job.progress.stopping()) throw new Cancelled();
                Thread.sleep(10);
            }
            return work.run(copy, job);
        } catch (Progress.Stopped | Cancelled e) {
            throw new Refused(409, kind + " cancelled after " + job.progress.count() + " instances");
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new Refused(409, kind + " interrupted");
        } catch (WalkException | IOException e) {
            throw new Refused(409, "no " + kind + ": " + e.getMessage());
        } finally {
            jobs.remove(job);
        }
    }

    // ---------------------------------------------------------------------------------------
    // Changes and search

    /** The walk's difference between the saved file (A) and the configuration as edited (B). */
    String changes(String id) throws Refused {
        return longWork("changes", id, (copy, job) -> {
            ZelConfig saved = new ZelConfig();
            if (!saved.open(copy.name.lib, copy.name.cell, copy.name.view, "r", listener)) {
                throw new Refused(409, "the saved configuration " + copy.name + " does not open" + lastWarning());
            }
            try {
                Lines out = new Lines(CHANGES_LINES);
                List<String> rules = rulesChanged(ZelRules.list(saved), copy.rules);
                if (rules.isEmpty()) {
                    // The same rules over the same design bind alike: no walk needed.
                    out.lines.add("Same rules as the saved file: no binding differs.");
                } else {
                    // Both walk the whole design, each level's instances in turn: a level a call.
                    Walker a = walker(saved, job.progress, true).wholeLevels(true);
                    Walker b = walker(copy.open(), job.progress, true).wholeLevels(true);
                    try {
                        new Diff(out, a, Rows.header(saved), b, Rows.header(copy.config)).run();
                    } catch (Lines.Full e) {
                        out.cut = true;
                    } finally {
                        a.close();
                        b.close();
                    }
                }
                Json j = new Json().open().put("cut", out.cut).put("stale", copy.stale()).put("walked", job.progress.count())
                        .array("lines");
                for (String l : out.lines) j.put(null, l);
                j.end().array("rules");
                for (String l : rules) j.put(null, l);
                return j.end().close().toString();
            } finally {
                saved.close();
            }
        });
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
     * The table of cells: for each master cell view, each binding it gets, by which kind of
     * rule, with how many instances and the first of them. Walks the whole design.
     */
    String table(String id) throws Refused {
        return longWork("table", id, (copy, job) -> {
            Map<String, long[]> counts = new java.util.LinkedHashMap<>();
            Map<String, String[]> rows = new java.util.HashMap<>();
            walker(copy.open(), job.progress, false).walk(new WalkSink() {
                @Override
                public void enter(Node n) throws IOException {
                    if (job.progress.stopping()) throw new Cancelled();
                    String binding = n.binding == null ? "open" : n.binding.toString();
                    String by = Labels.chosenBy(n.answers);
                    String key = n.master + "\0" + binding + "\0" + by;
                    long[] c = counts.computeIfAbsent(key, k -> new long[1]);
                    if (c[0]++ == 0) rows.put(key, new String[] {n.master.toString(), binding, by, n.path()});
                }

                @Override
                public void finish(Node top) {
                }
            });
            Json j = new Json().open().put("stale", copy.stale()).array("rows");
            for (Map.Entry<String, long[]> e : counts.entrySet()) {
                String[] r = rows.get(e.getKey());
                j.element().put("cell", r[0]).put("binding", r[1]).put("by", r[2]).put("count", e.getValue()[0])
                        .put("first", r[3]).close();
            }
            return j.end().close().toString();
        });
    }

    /**
     * Walks the hierarchy for instances whose name, path, master cell or bound cell holds
     * {@code q}; gives those from {@code offset} on, at most {@code limit}, and whether more
     * follow. The walk stops at the first match past them.
     */
    String search(String q, int offset, int limit, String id) throws Refused {
        if (q == null || q.isEmpty()) throw new Refused(400, "give something to search for");
        return longWork("search", id, (copy, job) -> {
            Walker w = walker(copy.open(), job.progress, false);
            WalkHeader header = Rows.header(copy.config);
            Json j = new Json().open().put("q", q).put("offset", offset).array("rows");
            final class Enough extends IOException {
                private static final long serialVersionUID = 1L;
            }
            long[] seen = {0};
            boolean more = false;
            try {
                w.walk(new WalkSink() {
                    @Override
                    public void enter(Node n) throws IOException {
                        if (duringSearch != null) duringSearch.run();
                        if (job.progress.stopping()) throw new Cancelled();
                        if (!matches(n, q)) return;
                        long k = seen[0]++;
                        if (k < offset) return;
                        if (k >= (long) offset + limit) throw new Enough();
                        row(j.element(), n, header);
                        j.close();
                    }

                    @Override
                    public void finish(Node top) {
                    }
                });
            } catch (Enough e) {
                more = true;
            }
            return j.end().put("more", more).put("visited", job.progress.count()).put("stale", copy.stale()).close().toString();
        });
    }
    private static boolean matches(Node n, String q) {
        if (n.name.contains(q) || n.master.cell != null && n.master.cell.contains(q)) return true;
        if (n.binding != null && n.binding.cell != null && n.binding.cell.contains(q)) return true;
        return q.indexOf('/') >= 0 && n.path().contains(q);
    }

    // ---------------------------------------------------------------------------------------
    // Lint

    /** Lints the configuration as edited and keeps its findings for the rows. */
    String lint(String id) throws Refused {
        return longWork("lint", id, (copy, job) -> {
            ZelConfig c = copy.open();
            Lint.Findings found = Lint.run(c, definitionsFile, listener, job.progress);
            // A finding names an instance path, a cell view or a library: the page links those
            // that are instances of the open configuration's hierarchy.
            java.util.Set<String> instances = new java.util.HashSet<>();
            Walker w = walker(c, job.progress, false);
            try {
                Node top = w.start();
                int tried = 0;
                for (Lint.Item f : found.all) {
                    if (f.path == null || f.path.contains("*") || instances.contains(f.path) || ++tried > 1000) continue;
                    try {
                        Node n = descend(w, top, split(f.path));
                        instances.add(f.path);
                        for (; n.parent != null; n = n.parent) w.leave(n);
                    } catch (Refused e) {
                        // Not an instance; descend left the path vector where it stopped.
                        w.close();
                        w = walker(c, job.progress, false);
                        top = w.start();
                    }
                }
            } finally {
                w.close();
            }
            found.byPath.keySet().retainAll(instances);
            boolean stale;
            long runs;
            synchronized (this) {
                // Findings of rules since changed would mark the rows wrongly: the page asks again.
                stale = generation != copy.generation;
                if (!stale) {
                    lint = found;
                    ++lintRuns;
                }
                runs = lintRuns;
            }
            Json j = new Json().open().put("summary", found.summary).put("stale", stale).put("lintRuns", runs)
                    .array("findings");
            for (Lint.Item f : found.all) {
                j.element().put("path", f.path).put("instance", instances.contains(f.path)).put("text", f.text).close();
            }
            return j.end().close().toString();
        });
    }
}
