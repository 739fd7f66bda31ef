package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.Deque;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Stream;

/**
 * Finds what a configuration holds in vain: the rules, lists and stop points that never applied
 * in a walk of the design, the names that no library definition or cell view on disk has, and,
 * as notes, the bindings to open and the instances left unbound.
 *
 * <p>The API, for the {@code zel lint} command and for other tools (the hierarchy editor shows
 * the findings on its rows):
 * <pre>{@code
 * List<Finding> findings = Lint.run(config, definitionsFile, warnings);   // config: open, any mode
 * for (Finding f : findings) {
 *     f.kind;    // Finding.Kind: NEVER_APPLIED, UNKNOWN_NAME, OPEN_BINDING (note), UNBOUND (note)
 *     f.rule;    // "inst design core schematic ALU9: stop", as zel show prints it; null for UNBOUND
 *     f.line;    // its line in config.zel, 0 when none
 *     f.where;   // the instance path ("CORE/ALU0/ADD") or cell view (design/alu/schematic) concerned, or null
 *     f.why;     // "no instance ALU9 in design/core/schematic (it has ALU0, ALU1)"
 *     f.fix;     // "remove the rule, or name an instance that design/core/schematic has"
 * }
 * }</pre>
 * The rules are those of the open configuration as edited, saved or not ({@code ZelRules}); the
 * walk asks the same configuration. The walk keeps only counts and one example per rule, so its memory does not
 * grow with the design; its time is about one walk's.
 */
public final class Lint {
    /** Cell views explored below the walk's stops, at most, to tell "a stop above it" from "nothing instantiates it". */
    private static final int MAX_SHADOW_LEVELS = 100_000;

    /** A rule block of the file: its properties and what the walk saw of it. */
    static final class Target {
        final ConfigFile.Block block;
        final List<String> names;
        final Map<String, ConfigFile.Rule> properties = new LinkedHashMap<>();
        /** Met as the master's cell or library, as the instance in its cell view, or as the occurrence. */
        boolean met;
        /** Met as the bound cell or library, for the stop points of cells and the stop lists of libraries. */
        boolean metAsBinding;
        final Set<String> applied = new HashSet<>();
        /** Where it was first met but a property of it did not decide: path and what decided instead. */
        final Map<String, String> firstPassed = new HashMap<>();

        Target(ConfigFile.Block block, List<String> names) {
            this.block = block;
            this.names = names;
        }

        boolean has(String property) {
            return properties.containsKey(property);
        }

    }

    private final ZelConfig config;
    private final ConfigFile file;
    private final LibraryDefinitions libraries;
    private final Path definitionsFile;
    private final Design design;
    private final List<Finding> findings = new ArrayList<>();

    // The rule blocks, keyed as the walk looks them up.
    private final Map<CellView, Target> cells = new HashMap<>();             // (lib or null, cell, null)
    private final Map<String, List<Target>> insts = new HashMap<>();        // by instance name
    private final Map<List<String>, Target> occurrences = new HashMap<>();  // by path
    private final Set<List<String>> occurrencePrefixes = new HashSet<>();
    private final Map<String, Target> libraryRules = new HashMap<>();
    private final Map<String, ConfigFile.Rule> settings = new HashMap<>();
    private final Set<String> settingsApplied = new HashSet<>();
    private final List<Target> targets = new ArrayList<>();

    // What the walk saw.
    private final Set<CellView> walkedLevels = new HashSet<>();
    private final Set<CellView> stoppedLevels = new HashSet<>();
    /** Where the walk did not go on below an occurrence prefix: the prefix and why. */
    private final Map<List<String>, Node.End> prefixEnds = new HashMap<>();
    private final Map<List<String>, CellView> prefixLevels = new HashMap<>();
    private final Map<CellView, long[]> unboundCounts = new LinkedHashMap<>();
    private final Map<CellView, String> unboundFirst = new HashMap<>();
    /** The library list and the view list in effect at the first unbound instance of a cell view. */
    private final Map<CellView, String[]> unboundLists = new HashMap<>();

    private Lint(ZelConfig config, ConfigFile file, LibraryDefinitions libraries, Path definitionsFile,
                 ZelWarningListener warnings) {
        this.config = config;
        this.file = file;
        this.libraries = libraries;
        this.definitionsFile = definitionsFile;
        this.design = new Design(libraries, warnings != null ? warnings : text -> { }, Walk.DESIGN_KEPT);
    }

    /**
     * Lints an open configuration as edited, saved or not: lists its rules, walks the design and gives the findings, notes included.
     * {@code ZelConfig.init} must have been called with the same definitions file; the
     * listener, which may be null, receives the library's warnings and those of design files.
     *
     * @throws WalkException when it cannot run: the file cannot be read, the top cell is refused
     */
    public static List<Finding> run(ZelConfig config, Path definitionsFile, ZelWarningListener warnings)
            throws WalkException {
        return run(config, ConfigFile.of(config), LibraryDefinitions.loaded(), definitionsFile, warnings,
                   new Progress(new PrintStream(PrintStream.nullOutputStream()), false, false));
    }

    /** Lints with the rules given, showing the walk's progress on {@code progress}. */
    public static List<Finding> run(ZelConfig config, ConfigFile file, LibraryDefinitions libraries,
                                    Path definitionsFile, ZelWarningListener warnings, Progress progress)
            throws WalkException {
        Lint lint = new Lint(config, file, libraries, definitionsFile, warnings);
        lint.index();
        lint.unknownNames();
        lint.openBindings();
        try {
            new Walker(config, lint.design, warnings, Integer.MAX_VALUE, progress, false).wholeLevels(!Walk.ONE_BY_ONE).walk(lint.new Sink());
        } catch (IOException e) {
            throw new WalkException(1, "the walk failed: " + e.getMessage());  // the sink writes nothing
        }
        lint.neverApplied();
        lint.unbound();
        lint.findings.sort(Comparator.comparing((Finding f) -> f.kind).thenComparingInt(f -> f.line == 0 ? Integer.MAX_VALUE : f.line));
        return lint.findings;
    }

    // ---------------------------------------------------------------------------------------
    // The rules

    private void index() {
        Map<String, Target> byHead = new LinkedHashMap<>();
        for (ConfigFile.Rule rule : file.rules) {
            if (rule.block == ConfigFile.Block.SETTING) {
                settings.put(rule.property, rule);
                continue;
            }
            Target t = byHead.get(rule.head());
            if (t == null) {
                t = new Target(rule.block, rule.names);
                byHead.put(rule.head(), t);
                targets.add(t);
                switch (rule.block) {
                    case LIBRARY:
                        libraryRules.put(rule.names.get(0), t);
                        break;
                    case CELL:
                        cells.put(new CellView(rule.names.get(0), rule.names.get(1), null), t);
                        break;
                    case INST:
                        insts.computeIfAbsent(rule.names.get(3), k -> new ArrayList<>()).add(t);
                        break;
                    default:
                        occurrences.put(rule.names, t);
                        for (int i = 1; i < rule.names.size(); ++i) occurrencePrefixes.add(rule.names.subList(0, i));
                        occurrencePrefixes.add(rule.names);
                        break;
                }
            }
            t.properties.put(rule.property, rule);
        }
        // The library's order: library-qualified rules first, then any library's; the view's, then any view's.
        for (List<Target> list : insts.values()) {
            list.sort(Comparator.comparing((Target t) -> t.names.get(0) == null)
                              .thenComparing(t -> t.names.get(2) == null));
        }
    }

    // ---------------------------------------------------------------------------------------
    // The walk

    private final class Sink implements WalkSink {
        /** The occurrence prefix of each level from the top to where the walk stands; null off them. */
        private final Deque<List<String>> occPath = new ArrayDeque<>();

        @Override
        public void start(Node top) {
            occPath.push(List.of());
            stops(top, null, null);
            level(top, List.of());
        }

        @Override
        public void enter(Node node) {
            List<String> above = occPath.peek();
            List<String> here = null;
            if (above != OFF_OCCURRENCES) {
                List<String> path = new ArrayList<>(above.size() + 1);
                path.addAll(above);
                path.add(node.name);
                if (occurrencePrefixes.contains(path)) here = path;
            }
            occPath.push(here == null ? OFF_OCCURRENCES : here);
            Target occ = here == null ? null : occurrences.get(here);
            Target[] instRules = instRules(node.parent.binding, node.name);
            Target[] cellRules = cellRules(node.master);
            Target libRule = node.master.lib == null ? null : libraryRules.get(node.master.lib);
            for (Target t : instRules) t.met = true;
            for (Target t : cellRules) t.met = true;
            if (libRule != null) libRule.met = true;
            if (occ != null) occ.met = true;
            BindAnswers a = node.answers;

            // Which rule decides each answer, in the library's order of precedence: the
            // binding, the view list and the library list. The other rules met here that
            // hold the same property passed.
            ConfigFile.Rule binding = occ != null ? occ.properties.get("bind") : null;
            if (binding == null) binding = firstRule(instRules, "bind");
            if (binding == null) binding = firstRule(instRules, "view-binding");
            if (binding == null) binding = firstRule(cellRules, "bind");
            if (binding == null) binding = firstRule(cellRules, "view-binding");
            decide(binding, node, occ, instRules, cellRules, null, BINDINGS);

            ConfigFile.Rule viewList = null;
            if (!a.viewListInherited) {
                viewList = occ != null ? occ.properties.get("views") : null;
                if (viewList == null) viewList = firstRule(instRules, "views");
                if (viewList == null) viewList = firstRule(cellRules, "views");
                if (viewList == null && libRule != null) viewList = libRule.properties.get("views");
                if (viewList == null) settingsApplied.add("default-views");
            }
            decide(viewList, node, occ, instRules, cellRules, libRule, VIEWS);

            ConfigFile.Rule libList = null;
            if (!a.libListInherited) {
                libList = firstRule(instRules, "libs");
                if (libList == null) libList = firstRule(cellRules, "libs");
                if (libList == null) settingsApplied.add("default-libs");
            }
            decide(libList, node, occ, instRules, cellRules, null, LIBS);

            // The stop points of the level it leads to.
            if (node.binding == null) {
                for (Target t : instRules) if (t.has("stop")) passed(t, "stop", node, "bound to open: no level to stop at");
                if (occ != null && occ.has("stop")) passed(occ, "stop", node, "bound to open: no level to stop at");
            } else if (node.end != Node.End.TOO_DEEP) {
                stops(node, instRules, occ);
            }
            level(node, here);
            if (node.end == Node.End.OPEN && binding == null) {
                SummaryPrinter.count(unboundCounts, node.master);
                if (unboundFirst.putIfAbsent(node.master, node.path()) == null) {
                    unboundLists.put(node.master, new String[] {resolve(a.libList), a.expandedViewList});
                }
            }
        }

        @Override
        public void leave(Node node) {
            occPath.pop();
        }

        @Override
        public void finish(Node top) {
        }

        // Where the walk stands after a node: its level, and below an occurrence prefix how it ends.
        private void level(Node node, List<String> prefix) {
            if (node.end == Node.End.WALKED) walkedLevels.add(node.binding);
            if (node.end == Node.End.STOP || node.end == Node.End.DEPTH_LIMIT) stoppedLevels.add(node.binding);
            if (prefix != null) {
                prefixEnds.put(prefix, node.end);
                if (node.binding != null) prefixLevels.put(prefix, node.binding);
            }
        }

        // The stop points that matched at the level a node leads to.
        private void stops(Node node, Target[] instRules, Target occ) {
            CellView b = node.binding;
            Target[] bindingCells = {cells.get(new CellView(b.lib, b.cell, null)), cells.get(new CellView(null, b.cell, null))};
            for (Target t : bindingCells) if (t != null) t.metAsBinding = true;
            Target libRule = b.lib == null ? null : libraryRules.get(b.lib);
            if (libRule != null) libRule.metAsBinding = true;
            int why = node.stopWhy;
            if ((why & ZelPathVector.STOP_DEFAULT_LIST) != 0) settingsApplied.add("default-stops");
            if ((why & ZelPathVector.STOP_LIBRARY_RULE) != 0 && libRule != null) libRule.applied.add("stops");
            for (Target t : bindingCells) {
                if (t != null && t.has("stop") && (why & ZelPathVector.STOP_CELL_RULE) != 0) t.applied.add("stop");
            }
            if (instRules != null && (why & ZelPathVector.STOP_INSTANCE_RULE) != 0) {
                for (Target t : instRules) if (t.has("stop")) t.applied.add("stop");
            }
            if (occ != null && occ.has("stop") && (why & ZelPathVector.STOP_OCCURRENCE_RULE) != 0) occ.applied.add("stop");
        }
    }

    /** The level of an instance on no occurrence path (compared by identity). */
    private static final List<String> OFF_OCCURRENCES = new ArrayList<>();

    /** Records the first place where a rule's property was met and did not decide, with why. */
    private static void passed(Target t, String property, Node node, String why) {
        if (!t.firstPassed.containsKey(property)) t.firstPassed.put(property, "at " + node.path() + ": " + why);
    }

    private static final String[] BINDINGS = {"view-binding", "bind"};
    private static final String[] VIEWS = {"views"};
    private static final String[] LIBS = {"libs"};

    /**
     * Marks the rule that decided an answer at a node as applied, and every other rule met there
     * holding one of {@code properties} as passed, with the one that decided.
     */
    private static void decide(ConfigFile.Rule decided, Node node, Target occ, Target[] instRules, Target[] cellRules,
                               Target libRule, String[] properties) {
        if (decided != null) ruleTarget(decided, occ, instRules, cellRules, libRule).applied.add(decided.property);
        pass(occ, decided, node, properties);
        for (Target t : instRules) pass(t, decided, node, properties);
        for (Target t : cellRules) pass(t, decided, node, properties);
        pass(libRule, decided, node, properties);
    }

    private static void pass(Target t, ConfigFile.Rule decided, Node node, String[] properties) {
        if (t == null) return;
        for (String p : properties) {
            ConfigFile.Rule rule = t.properties.get(p);
            if (rule == null || rule == decided || t.firstPassed.containsKey(p)) continue;
            String by = decided != null ? "decided by " + decided
                        : properties == BINDINGS ? "bound by its view list"
                        : properties == VIEWS ? "the view list inherited from above"
                        : "the library list inherited from above";
            t.firstPassed.put(p, "at " + node.path() + ": " + by);
        }
    }

    /** The block a rule met at a node belongs to. */
    private static Target ruleTarget(ConfigFile.Rule rule, Target occ, Target[] instRules, Target[] cellRules, Target libRule) {
        if (occ != null && occ.properties.get(rule.property) == rule) return occ;
        for (Target t : instRules) if (t.properties.get(rule.property) == rule) return t;
        for (Target t : cellRules) if (t.properties.get(rule.property) == rule) return t;
        return libRule;
    }

    private static ConfigFile.Rule firstRule(Target[] rules, String property) {
        for (Target t : rules) {
            ConfigFile.Rule r = t.properties.get(property);
            if (r != null) return r;
        }
        return null;
    }

    private static final Target[] NO_TARGETS = new Target[0];

    /** The instance rules of instance {@code inst} in cell view {@code level}, in the library's order. */
    private Target[] instRules(CellView level, String inst) {
        List<Target> named = insts.get(inst);
        if (named == null || level == null) return NO_TARGETS;
        List<Target> found = new ArrayList<>(2);
        for (Target t : named) {
            List<String> n = t.names;
            if ((n.get(0) == null || n.get(0).equals(level.lib)) && n.get(1).equals(level.cell)
                    && (n.get(2) == null || n.get(2).equals(level.view))) {
                found.add(t);
            }
        }
        return found.toArray(NO_TARGETS);
    }

    /** The master's cell rules: its library's, then any library's. */
    private Target[] cellRules(CellView master) {
        if (cells.isEmpty() || master.cell == null) return NO_TARGETS;
        Target own = master.lib == null ? null : cells.get(new CellView(master.lib, master.cell, null));
        Target any = cells.get(new CellView(null, master.cell, null));
        if (own == null && any == null) return NO_TARGETS;
        if (own == null) return new Target[] {any};
        return any == null ? new Target[] {own} : new Target[] {own, any};
    }

    // ---------------------------------------------------------------------------------------
    // Never applied

    private void neverApplied() {
        Shadow shadow = null;
        for (Target t : targets) {
            for (ConfigFile.Rule rule : t.properties.values()) {
                if (t.applied.contains(rule.property)) continue;
                boolean met = t.block == ConfigFile.Block.CELL && rule.property.equals("stop")
                              || t.block == ConfigFile.Block.LIBRARY && rule.property.equals("stops")
                              ? t.metAsBinding : t.met;
                if (met && t.block == ConfigFile.Block.LIBRARY && rule.property.equals("stops")) {
                    add(Finding.Kind.NEVER_APPLIED, rule, where(t),
                        "the walk binds no cell of library " + t.names.get(0) + " to a view of the list",
                        "remove the rule, or correct the list's views");
                    continue;
                }
                if (met) {
                    String passed = t.firstPassed.get(rule.property);
                    add(Finding.Kind.NEVER_APPLIED, rule, where(t),
                        "another rule decides first wherever it could apply" + (passed != null ? " (" + passed + ")" : ""),
                        "remove the rule, or the rule that decides before it");
                    continue;
                }
                if (shadow == null) shadow = new Shadow();
                notMet(t, rule, shadow);
            }
        }
        for (String setting : new String[] {"default-views", "default-libs", "default-stops"}) {
            ConfigFile.Rule rule = settings.get(setting);
            if (rule == null || settingsApplied.contains(setting) || rule.value() == null || rule.value().isEmpty()) continue;
            add(Finding.Kind.NEVER_APPLIED, rule, null,
                setting.equals("default-stops") ? "the walk never reached a view of the list where no other rule ended it"
                                                : "another rule supplies the list at every instance",
                "remove the setting, or leave it as the fallback it is");
        }
    }

    private void notMet(Target t, ConfigFile.Rule rule, Shadow shadow) {
        List<String> n = t.names;
        switch (t.block) {
            case CELL: {
                String cell = (n.get(0) == null ? "*" : n.get(0)) + "/" + n.get(1);
                boolean asBinding = rule.property.equals("stop");
                if (shadow.cells.contains(new CellView(n.get(0), n.get(1), null))
                        || n.get(0) == null && shadow.anyLibCells.contains(n.get(1))) {
                    add(Finding.Kind.NEVER_APPLIED, rule, cell,
                        "a stop above it ends the walk first: the cell is instantiated only below where the walk stops",
                        "remove the rule, or the stop above it");
                } else {
                    add(Finding.Kind.NEVER_APPLIED, rule, cell,
                        asBinding ? "the walk binds no instance to that cell" : "nothing the walk reaches instantiates that cell",
                        "remove the rule, or correct the cell's name");
                }
                break;
            }
            case INST: {
                String cv = (n.get(0) == null ? "*" : n.get(0)) + "/" + n.get(1) + "/" + (n.get(2) == null ? "*" : n.get(2));
                CellView walked = matchLevel(walkedLevels, n);
                if (walked != null) {
                    add(Finding.Kind.NEVER_APPLIED, rule, cv,
                        "no instance " + n.get(3) + " in " + walked + instancesOf(walked),
                        "remove the rule, or name an instance that " + walked + " has");
                } else if (matchLevel(shadow.levels, n) != null) {
                    add(Finding.Kind.NEVER_APPLIED, rule, cv,
                        "a stop above it ends the walk first: the walk never goes into " + cv,
                        "remove the rule, or the stop above it");
                } else {
                    CellView instead = null;
                    for (CellView w : walkedLevels) if (n.get(1).equals(w.cell) && (instead == null || w.toString().compareTo(instead.toString()) < 0)) instead = w;
                    add(Finding.Kind.NEVER_APPLIED, rule, cv,
                        "the walk never goes into cell view " + cv + ": nothing it reaches is bound to it"
                        + (instead != null ? " (it goes into " + instead + ")" : ""),
                        "remove the rule, or correct its cell view");
                }
                break;
            }
            case OCCURRENCE: {
                String path = String.join("/", n);
                // The deepest prefix the walk reached, and how it ended there.
                int k = n.size() - 1;
                while (k > 0 && !prefixEnds.containsKey(n.subList(0, k))) --k;
                List<String> reached = n.subList(0, k);
                Node.End end = prefixEnds.get(reached);
                String at = reached.isEmpty() ? "the top cell" : String.join("/", reached);
                if (end == Node.End.STOP) {
                    add(Finding.Kind.NEVER_APPLIED, rule, path, "a stop above it ends the walk first, at " + at,
                        "remove the rule, or the stop at " + at);
                } else if (end == Node.End.OPEN) {
                    add(Finding.Kind.NEVER_APPLIED, rule, path, at + " is bound to open: nothing below it",
                        "remove the rule, or bind " + at);
                } else if (end == Node.End.WALKED || end == null) {
                    CellView level = prefixLevels.get(reached);
                    add(Finding.Kind.NEVER_APPLIED, rule, path,
                        "no such path: " + at + (level != null ? " (" + level + ")" : "") + " has no instance " + n.get(k),
                        "remove the rule, or correct the path");
                } else {
                    add(Finding.Kind.NEVER_APPLIED, rule, path, "the walk ends at " + at + " (" + end.label + ")",
                        "remove the rule, or mend the design at " + at);
                }
                break;
            }
            default: {
                String lib = n.get(0);
                boolean stops = rule.property.equals("stops");
                add(Finding.Kind.NEVER_APPLIED, rule, lib,
                    stops ? "the walk binds nothing to a cell of library " + lib
                          : "no instance the walk reaches has its master in library " + lib,
                    "remove the rule, or correct the library's name");
                break;
            }
        }
    }

    private static CellView matchLevel(Set<CellView> levels, List<String> n) {
        for (CellView cv : levels) {
            if ((n.get(0) == null || n.get(0).equals(cv.lib)) && n.get(1).equals(cv.cell)
                    && (n.get(2) == null || n.get(2).equals(cv.view))) {
                return cv;
            }
        }
        return null;
    }

    private String instancesOf(CellView cv) {
        Design.Level level = design.level(cv);
        if (level.instances == null || level.instances.length == 0) return ", which has none";
        StringBuilder b = new StringBuilder(" (it has ");
        for (int i = 0; i < Math.min(level.instances.length, 8); ++i) {
            if (i > 0) b.append(", ");
            b.append(level.instances[i].name);
        }
        if (level.instances.length > 8) b.append(", ...");
        return b.append(')').toString();
    }

    private static String where(Target t) {
        List<String> n = t.names;
        switch (t.block) {
            case OCCURRENCE: return String.join("/", n);
            case INST: return (n.get(0) == null ? "*" : n.get(0)) + "/" + n.get(1) + "/" + (n.get(2) == null ? "*" : n.get(2));
            case CELL: return (n.get(0) == null ? "*" : n.get(0)) + "/" + n.get(1);
            default: return n.get(0);
        }
    }

    /**
     * The design below the walk's stops, by cell view, each once: what a rule not met could have
     * met but for a stop above it. Below a stop nothing is bound, so every view of a master's
     * cell on disk is taken for one the walk could have gone into.
     */
    private final class Shadow {
        final Set<CellView> levels = new HashSet<>();
        final Set<CellView> cells = new HashSet<>();
        final Set<String> anyLibCells = new HashSet<>();

        Shadow() {
            Deque<CellView> todo = new ArrayDeque<>(stoppedLevels);
            while (!todo.isEmpty() && levels.size() < MAX_SHADOW_LEVELS) {
                CellView cv = todo.pop();
                if (!levels.add(cv)) continue;
                Design.Level level = design.level(cv);
                if (level.instances == null) continue;
                for (DesignFile.Instance inst : level.instances) {
                    CellView cell = new CellView(inst.master.lib, inst.master.cell, null);
                    if (!cells.add(cell)) continue;
                    anyLibCells.add(cell.cell);
                    for (String view : viewsOf(cell)) todo.push(new CellView(cell.lib, cell.cell, view));
                }
            }
        }

        private List<String> viewsOf(CellView cell) {
            List<String> views = new ArrayList<>();
            Path lib = libraries.directory(cell.lib);
            if (lib == null || cell.cell == null || !LibraryDefinitions.isPathComponent(cell.cell)) return views;
            try (Stream<Path> dirs = Files.list(lib.resolve(cell.cell))) {
                dirs.filter(Files::isDirectory).forEach(d -> views.add(d.getFileName().toString()));
            } catch (IOException | java.io.UncheckedIOException e) {
                // a cell that cannot be listed has no view to go into
            }
            return views;
        }
    }

    // ---------------------------------------------------------------------------------------
    // Names, bindings to open, unbound instances

    private void unknownNames() {
        Names names = new Names();
        Set<String> heads = new HashSet<>();
        for (ConfigFile.Rule rule : file.rules) {
            List<String> n = rule.names;
            if (rule.block != ConfigFile.Block.SETTING && heads.add(rule.head())) {
                switch (rule.block) {
                    case LIBRARY:
                        names.library(rule, n.get(0));
                        break;
                    case CELL:
                        names.cell(rule, n.get(0), n.get(1));
                        break;
                    case INST:
                        if (names.cell(rule, n.get(0), n.get(1)) && n.get(2) != null) names.view(rule, n.get(0), n.get(1), n.get(2));
                        break;
                    default:
                        break;
                }
            }
            switch (rule.property) {
                case "top":
                    if (rule.values.size() == 3 && rule.values.get(1) != null) names.cellView(rule, rule.values);
                    break;
                case "bind":
                    if (!rule.bindsToOpen() && rule.values.size() == 3) names.cellView(rule, rule.values);
                    break;
                case "libs":
                case "default-libs":
                    for (String lib : words(rule.value())) names.library(rule, lib);
                    break;
                case "views":
                case "stops":
                case "default-views":
                case "default-stops":
                    for (String view : words(rule.value())) names.anyView(rule, view);
                    break;
                case "view-binding": {
                    String view = resolve(rule.value());
                    if (view == null || view.isEmpty()) break;
                    if (rule.block == ConfigFile.Block.CELL) names.view(rule, n.get(0), n.get(1), view);
                    else names.anyView(rule, view);
                    break;
                }
                default:
                    break;
            }
        }
    }

    private String resolve(String text) {
        if (text == null || !text.contains("$(")) return text;
        String resolved = config.resolveConstants(text);
        return resolved != null ? resolved : text;
    }

    private List<String> words(String list) {
        String text = resolve(list);
        List<String> words = new ArrayList<>();
        if (text == null) return words;
        for (String w : text.trim().split("\\s+")) if (!w.isEmpty()) words.add(w);
        return words;
    }

    /** Looks names up in the library definitions and on disk, and reports each unknown once per rule. */
    private final class Names {
        private Set<String> allViews;
        private final Set<String> reported = new HashSet<>();

        private void unknown(ConfigFile.Rule rule, String what, String why, String fix) {
            if (reported.add(rule.key() + "\0" + what)) add(Finding.Kind.UNKNOWN_NAME, rule, what, why, fix);
        }

        private String refused(String role, String name) {
            return role + " name " + name + " is refused: it cannot be a folder name (empty, . or .., or holding / or \\), "
                   + "so no " + role + " of the design has it";
        }

        boolean library(ConfigFile.Rule rule, String lib) {
            if (lib == null || libraries.directory(lib) != null) return true;
            unknown(rule, lib, "library " + lib + " is not defined in " + definitionsFile,
                    "define it there, or correct the name");
            return false;
        }

        private Path cellDir(String lib, String cell) {
            Path dir = libraries.directory(lib);
            return dir == null || !LibraryDefinitions.isPathComponent(cell) ? null : dir.resolve(cell);
        }

        boolean cell(ConfigFile.Rule rule, String lib, String cell) {
            if (!library(rule, lib)) return false;
            boolean found;
            if (lib != null) {
                Path dir = cellDir(lib, cell);
                found = dir != null && Files.isDirectory(dir);
            } else {
                found = libraries.names().stream().anyMatch(l -> {
                    Path dir = cellDir(l, cell);
                    return dir != null && Files.isDirectory(dir);
                });
            }
            if (!found && !LibraryDefinitions.isPathComponent(cell)) {
                unknown(rule, (lib == null ? "*" : lib) + "/" + cell, refused("cell", cell),
                        "write the cell's name as its folder is named (zel import: docs/import-export.md, Names)");
            } else if (!found) {
                unknown(rule, (lib == null ? "*" : lib) + "/" + cell,
                        "no library " + (lib == null ? "" : lib + " ") + "has a cell " + cell,
                        "correct the cell's name, or remove the rule");
            }
            return found;
        }

        void view(ConfigFile.Rule rule, String lib, String cell, String view) {
            List<String> libs = lib != null ? List.of(lib) : libraries.names();
            for (String l : libs) {
                Path dir = cellDir(l, cell);
                if (dir != null && LibraryDefinitions.isPathComponent(view) && Files.isDirectory(dir.resolve(view))) return;
            }
            unknown(rule, (lib == null ? "*" : lib) + "/" + cell + "/" + view,
                    !LibraryDefinitions.isPathComponent(view) ? refused("view", view) : "cell " + cell + " has no view " + view + " on disk",
                    "correct the view's name, or create the view");
        }

        void cellView(ConfigFile.Rule rule, List<String> v) {
            if (v.get(0) == null || !library(rule, v.get(0)) || v.get(1) == null || !cell(rule, v.get(0), v.get(1))) return;
            if (v.get(2) != null) view(rule, v.get(0), v.get(1), v.get(2));
        }

        void anyView(ConfigFile.Rule rule, String view) {
            if (allViews == null) {
                allViews = new HashSet<>();
                for (String lib : libraries.names()) {
                    try (Stream<Path> cellDirs = Files.list(libraries.directory(lib))) {
                        cellDirs.filter(Files::isDirectory).forEach(c -> {
                            try (Stream<Path> views = Files.list(c)) {
                                views.filter(Files::isDirectory).forEach(v -> allViews.add(v.getFileName().toString()));
                            } catch (IOException | java.io.UncheckedIOException e) {
                                // an unreadable cell holds no view we can name
                            }
                        });
                    } catch (IOException | java.io.UncheckedIOException e) {
                        // an unreadable library likewise
                    }
                }
            }
            if (!allViews.contains(view)) {
                unknown(rule, view, "no cell view on disk is named " + view,
                        "correct the view's name, or remove it from the list");
            }
        }
    }

    private void openBindings() {
        for (ConfigFile.Rule rule : file.rules) {
            if (!rule.bindsToOpen()) continue;
            add(Finding.Kind.OPEN_BINDING, rule, rule.block == ConfigFile.Block.SETTING ? null : whereOf(rule),
                "it binds to open: the walk, and a netlist, go no further there",
                "keep it if nothing is meant to be there; else bind it to a cell view");
        }
    }

    private String whereOf(ConfigFile.Rule rule) {
        Target t = new Target(rule.block, rule.names);
        return where(t);
    }

    private void unbound() {
        for (Map.Entry<CellView, long[]> e : unboundCounts.entrySet()) {
            long n = e.getValue()[0];
            String first = unboundFirst.get(e.getKey());
            String[] lists = unboundLists.get(e.getKey());
            String cell = e.getKey().cell;
            // Which list failed: none of the libraries holds the cell, or none of its views is there.
            boolean held = false;
            for (String lib : words(lists[0])) {
                Path dir = libraries.directory(lib);
                if (dir != null && LibraryDefinitions.isPathComponent(cell) && Files.isDirectory(dir.resolve(cell))) held = true;
            }
            String why = held ? "no view of its view list (" + lists[1] + ") is found"
                              : "no library of its library list (" + lists[0] + ") holds cell " + cell;
            String fix = held ? "add a view of the list to the cell, or a rule that binds it"
                              : "correct the library list, or add a rule that binds it";
            findings.add(new Finding(Finding.Kind.UNBOUND, null, 0, first,
                n + (n == 1 ? " instance" : " instances") + " of " + e.getKey()
                + " left unbound: " + why + (n > 1 ? ", the first at " + first : ""), fix));
        }
    }

    private void add(Finding.Kind kind, ConfigFile.Rule rule, String where, String why, String fix) {
        findings.add(new Finding(kind, rule.toString(), rule.line, where, why, fix));
    }
}
