package COM.morvent.zel.walk;

import COM.morvent.zel.ZelWarningListener;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;

/**
 * {@code zel export verilog|filelist|config}: the hierarchy a configuration binds, for the tools
 * that do not read configurations (docs/import-export.md).
 *
 * <p>The export walks the design as {@code zel walk} does and, from the bottom up, makes one
 * module for each cell view and the bindings below it: two occurrences of a cell view whose
 * instances bind alike share a module; where an occurrence rule makes them differ, each gets a
 * copy. A module keeps its own name unless another module of the export has it too; then it is
 * named {@code NAME__VIEW}, and copies {@code NAME__VIEW__2}, ... The top module and the leaf
 * cells (whose models come from a cell library) always keep their names.
 */
final class Export {
    static final String HELP = String.join("\n",
        "Walks the design CONFIG (LIB/CELL/VIEW) binds and writes it for a simulator:",
        "  verilog   one Verilog file: each instance's module is the one of the cell view it binds",
        "            to; modules renamed where one cell is bound to two views, parents copied where",
        "            an occurrence rule makes two occurrences differ",
        "  filelist  the Verilog files of the bound views, one a line (iverilog -c, verilator -f),",
        "            when the configuration needs no renaming",
        "  config    the configuration as a Verilog config block (IEEE 1364-2005, 13); none of",
        "            iverilog, verilator or yosys reads it",
        "Leaf cells (zel import's leaf library) are referred to, not written: give the simulator",
        "their models (yosys's simcells.v for its gates, a standard-cell library's Verilog).",
        "Options:",
        "  -o FILE          write to FILE (default: standard output)",
        "  --stub-missing   an instance bound to open, or to a view without Verilog, gets an empty",
        "                   module with its ports instead of failing the export",
        Zel.LIBS_HELP,
        "Exit status: 0 written; 1 it cannot be (an instance bound to open or to a view without",
        "Verilog, each named); 2 a wrong command line.");

    /** One module of the export: a cell view with the bindings below it. */
    static final class Variant {
        final int id;
        final CellView cv;
        final ViewModule vm;
        final Path dir;
        /** Instance name to the variant it binds to, in the order of the design file. */
        final Map<String, Variant> children;
        final String firstPath;
        final boolean external;
        final boolean stub;
        final Set<String> stubPorts = new LinkedHashSet<>();
        String name;

        Variant(int id, CellView cv, ViewModule vm, Path dir, Map<String, Variant> children, String firstPath,
                boolean external, boolean stub) {
            this.id = id;
            this.cv = cv;
            this.vm = vm;
            this.dir = dir;
            this.children = children;
            this.firstPath = firstPath;
            this.external = external;
            this.stub = stub;
        }

        String original() {
            return vm != null ? vm.module : cv.cell;
        }
    }

    private static final class ViewInfo {
        ViewModule vm;
        Path dir;
        String problem;
    }

    private final Zel.Io io;
    private final LibraryDefinitions libraries;
    private final Design design;
    private final boolean stubMissing;
    private final Map<String, Variant> byKey = new HashMap<>();
    private final List<Variant> variants = new ArrayList<>();
    private final Map<CellView, ViewInfo> infos = new HashMap<>();
    private final List<String> problems = new ArrayList<>();
    private int problemCount;
    private final List<String> configLines = new ArrayList<>();
    private final boolean configForm;
    private Variant top;
    private String topModule;

    private Export(Zel.Io io, LibraryDefinitions libraries, Design design, boolean stubMissing, boolean configForm) {
        this.io = io;
        this.libraries = libraries;
        this.design = design;
        this.stubMissing = stubMissing;
        this.configForm = configForm;
    }

    static int run(String[] args, Zel.Io io) throws WalkException, IOException {
        if (args.length == 0 || !List.of("verilog", "filelist", "config").contains(args[0])) {
            throw new WalkException(2, "say what to export: verilog, filelist or config; zel help export");
        }
        String form = args[0];
        String[] rest = java.util.Arrays.copyOfRange(args, 1, args.length);
        for (int i = 0; i < rest.length; ++i) {
            if (rest[i].equals("--")) break;
            if (rest[i].equals("-o")) rest[i] = "--output";
        }
        Zel.Line line = Zel.parse(rest, "export", List.of("--stub-missing"), List.of("--output"));
        if (!line.words.isEmpty()) throw new WalkException(2, "unexpected argument '" + line.words.get(0) + "'; zel help export");
        List<String> outs = line.values.getOrDefault("--output", List.of());
        String output = outs.isEmpty() ? null : outs.get(outs.size() - 1);
        long started = System.nanoTime();
        ZelWarningListener warnings = Zel.warnings(io, "export");
        String text;
        CellView name;
        try (Zel.Opened opened = Zel.open(line, "r", io, warnings)) {
            name = opened.name;
            Design design = new Design(opened.libraries, warnings, Walk.DESIGN_KEPT);
            Export ex = new Export(io, opened.libraries, design, line.flags.contains("--stub-missing"), form.equals("config"));
            Walker walker = new Walker(opened.config, design, warnings, Integer.MAX_VALUE,
                                       new Progress(io.err, false, false), false).wholeLevels(!Walk.ONE_BY_ONE);
            walker.walk(ex.sink());
            if (ex.problemCount > 0) {
                for (String p : ex.problems) io.err.println(Zel.NAME + " export: " + p);
                if (ex.problemCount > ex.problems.size()) {
                    io.err.println(Zel.NAME + " export: ... and " + (ex.problemCount - ex.problems.size()) + " more");
                }
                throw new WalkException(Zel.UNREADABLE, ex.problemCount + " instance" + (ex.problemCount == 1 ? "" : "s")
                                           + " cannot be exported (above); bind each to a view with Verilog, or give --stub-missing");
            }
            ex.name();
            String head = "// " + name + " revision " + opened.config.getRevision() + ", exported by zel export " + form + "\n";
            switch (form) {
                case "verilog": text = ex.verilog(head); break;
                case "filelist": text = ex.filelist(); break;
                default: text = ex.config(head); break;
            }
        }
        if (output == null || output.equals("-")) {
            Zel.write(io, text);
        } else {
            Path out = Path.of(output);
            Path temp = out.resolveSibling(out.getFileName() + ".zel-tmp");
            Files.writeString(temp, text, StandardCharsets.UTF_8);
            Files.move(temp, out, StandardCopyOption.REPLACE_EXISTING);
            io.err.printf("%s export: wrote %s (%,d bytes) in %.1f s%n", Zel.NAME, output,
                          text.getBytes(StandardCharsets.UTF_8).length, (System.nanoTime() - started) / 1e9);
        }
        return 0;
    }

    private WalkSink sink() {
        Deque<Map<String, Variant>> frames = new ArrayDeque<>();
        Deque<String> hierarchy = new ArrayDeque<>();
        return new WalkSink() {
            @Override
            public void start(Node node) {
                frames.push(new LinkedHashMap<>());
                ViewInfo info = info(node.binding);
                topModule = info.vm != null ? info.vm.module : node.binding.cell;
                hierarchy.push(NetlistNames.verilog(topModule));
            }

            @Override
            public void enter(Node node) {
                frames.push(new LinkedHashMap<>());
                // An escaped name keeps its blank: it ends the name before the '.' or ';' after it.
                String here = hierarchy.peek() + "." + NetlistNames.verilog(node.name);
                hierarchy.push(here);
                if (configForm) {
                    if (node.binding == null) configLines.add("  // " + here + " is bound to open");
                    else configLines.add("  instance " + here + " use " + configCell(node.binding) + ";");
                }
            }

            @Override
            public void leave(Node node) {
                Map<String, Variant> children = frames.pop();
                hierarchy.pop();
                Variant v = variantOf(node, children);
                if (v != null) frames.peek().put(node.name, v);
            }

            @Override
            public void finish(Node node) {
                top = variantOf(node, frames.pop());
            }
        };
    }

    // A cell view as a Verilog library holds it: each library and view of the design is one
    // library of the map, LIB__VIEW, holding the views' Verilog files.
    private final Map<String, String> mapLibraries = new LinkedHashMap<>();

    private String configCell(CellView cv) {
        ViewInfo info = info(cv);
        String cell = info.vm != null ? info.vm.module : cv.cell;
        String lib = NetlistNames.verilog(cv.lib + "__" + cv.view);
        Path dir = libraries.directory(cv.lib);
        if (dir != null) {
            mapLibraries.putIfAbsent(lib, dir.toAbsolutePath().resolve("*").resolve(cv.view).resolve(ViewModule.VERILOG_FILE).toString());
        }
        return lib + "." + NetlistNames.verilog(cell);
    }

    private ViewInfo info(CellView cv) {
        ViewInfo info = infos.get(cv);
        if (info != null) return info;
        info = new ViewInfo();
        Path lib = libraries.directory(cv.lib);
        if (lib != null && LibraryDefinitions.isPathComponent(cv.cell) && LibraryDefinitions.isPathComponent(cv.view)) {
            info.dir = lib.resolve(cv.cell).resolve(cv.view);
            try {
                info.vm = ViewModule.read(info.dir);
            } catch (WalkException e) {
                info.problem = e.getMessage();
            }
        }
        infos.put(cv, info);
        return info;
    }

    private void problem(Node node, String why) {
        ++problemCount;
        if (problems.size() < 20) problems.add("instance " + (node.parent == null ? "(top)" : node.path()) + ": " + why);
    }

    // The variant an instance (or the top) makes, from its binding and its children's; null when
    // it cannot be exported (a problem is recorded).
    private Variant variantOf(Node node, Map<String, Variant> children) {
        CellView cv = node.binding;
        String why = null;
        ViewInfo info = cv == null ? null : info(cv);
        switch (node.end) {
            case OPEN: why = "is bound to open"; break;
            case NOT_IN_DESIGN: why = "binds to " + cv + ", which is not in the design"; break;
            case DESIGN_FILE_ERROR: why = "binds to " + cv + ", whose design file does not read"; break;
            case RECURSIVE: why = "binds to " + cv + ", which is already above it"; break;
            case TOO_DEEP: why = "is too deep for the path vector"; break;
            default: break;
        }
        if (why == null && info.problem != null) why = info.problem;
        if (why == null && info.vm == null) {
            why = "binds to " + cv + ", which has no Verilog (no " + ViewModule.FILE_NAME + ": not made by zel import)";
        }
        if (why == null && !info.vm.leaf && info.vm.verilog == null) why = "binds to " + cv + ", which has no Verilog";
        if (why == null && node.end == Node.End.STOP && !info.vm.leaf) {
            Design.Level level = design.level(cv);
            if (level.instances != null && level.instances.length > 0) {
                why = "a stop ends the walk at " + cv + ", which has instances: the export cannot leave them out; "
                      + "bind it to a leaf view, or remove the stop";
            }
        }
        if (why != null) {
            if (!stubMissing || node.parent == null) {
                problem(node, why);
                return null;
            }
            String key = "stub\0" + (node.master == null ? "" : node.master.toString());
            Variant v = byKey.get(key);
            if (v == null) {
                CellView master = node.master;
                ViewModule vm = new ViewModule();
                vm.module = master.cell + "__stub";
                v = new Variant(variants.size(), master, vm, null, Map.of(), node.path(), false, true);
                byKey.put(key, v);
                variants.add(v);
            }
            return v;
        }
        boolean external = info.vm.leaf && info.vm.verilog == null;
        StringBuilder key = new StringBuilder(external ? "leaf\0" : "view\0").append(cv.lib).append('\0').append(cv.cell)
                .append('\0').append(cv.view);
        if (!external) {
            for (Map.Entry<String, Variant> e : children.entrySet()) key.append('\0').append(e.getKey()).append('\0').append(e.getValue().id);
        }
        String k = key.toString();
        Variant v = byKey.get(k);
        if (v == null) {
            v = new Variant(variants.size(), cv, info.vm, info.dir, external ? Map.of() : children,
                            node.parent == null ? "" : node.path(), external, false);
            byKey.put(k, v);
            variants.add(v);
        }
        return v;
    }

    // Gives each variant its module name.
    private void name() {
        Set<String> used = new HashSet<>();
        for (Variant v : variants) {
            if (v.external) {
                v.name = v.original();
                used.add(v.name);
            }
        }
        top.name = top.original();
        used.add(top.name);
        Map<String, Integer> perOriginal = new HashMap<>();
        for (Variant v : variants) {
            if (!v.external && v != top) perOriginal.merge(v.original(), 1, Integer::sum);
        }
        Map<String, Integer> copies = new HashMap<>();
        for (Variant v : variants) {
            if (v.external || v == top) continue;
            String base = v.original();
            String candidate = base;
            if (used.contains(base) || perOriginal.get(base) > 1) {
                String perView = base + "__" + v.cv.view;
                int n = copies.merge(perView, 1, Integer::sum);
                candidate = n == 1 ? perView : perView + "__" + n;
            }
            while (!used.add(candidate)) candidate = candidate + "_";
            v.name = candidate;
        }
    }

    private final Map<CellView, String> texts = new HashMap<>();

    private String textOf(Variant v) throws WalkException {
        String text = texts.get(v.cv);
        if (text == null) {
            Path file = v.dir.resolve(v.vm.verilog);
            try {
                text = Files.readString(file, StandardCharsets.UTF_8);
            } catch (IOException e) {
                throw new WalkException(Zel.UNREADABLE, "cannot read " + file + " (" + e.getMessage() + ")");
            }
            texts.put(v.cv, text);
        }
        return text;
    }

    /** The module text of a variant, renamed; {@code unchanged} is told whether it is the file as it is. */
    private String moduleText(Variant v, boolean[] unchanged) throws WalkException {
        String text = textOf(v);
        List<VerilogText.Token> tokens = VerilogText.tokens(text);
        List<VerilogText.Instance> found = VerilogText.instances(tokens, v.children::containsKey);
        Set<String> seen = new HashSet<>();
        for (VerilogText.Instance inst : found) {
            seen.add(inst.name);
            Variant child = v.children.get(inst.name);
            if (child.stub) child.stubPorts.addAll(inst.ports);
        }
        if (seen.size() != v.children.size()) {
            for (String name : v.children.keySet()) {
                if (!seen.contains(name)) {
                    throw new WalkException(Zel.UNREADABLE, "instance " + name + " of " + v.cv + " is not in its Verilog ("
                                               + v.dir.resolve(v.vm.verilog) + "); import the view again");
                }
            }
        }
        String renamed = VerilogText.rename(text, tokens, found, v.name, n -> v.children.get(n).name);
        if (unchanged != null) {
            VerilogText.Token module = VerilogText.moduleName(tokens);
            boolean same = module != null && v.name.equals(module.name);
            for (VerilogText.Instance inst : found) same &= inst.type.name.equals(v.children.get(inst.name).name);
            unchanged[0] = same;
        }
        return renamed;
    }

    private String verilog(String head) throws WalkException {
        StringBuilder body = new StringBuilder();
        TreeSet<String> leaves = new TreeSet<>();
        List<Variant> stubs = new ArrayList<>();
        for (Variant v : variants) {
            if (v.external) {
                leaves.add(NetlistNames.verilog(v.name).trim());
                continue;
            }
            if (v.stub) {
                stubs.add(v);
                continue;
            }
            body.append("\n// ").append(NetlistNames.verilog(v.name).trim()).append(": ").append(v.cv);
            if (!v.firstPath.isEmpty()) body.append(", first at ").append(v.firstPath);
            body.append('\n').append(moduleText(v, null));
        }
        for (Variant v : stubs) {
            String ports = String.join(", ", v.stubPorts.stream().map(NetlistNames::verilog).toList());
            body.append("\n// ").append(NetlistNames.verilog(v.name).trim()).append(": a stub for ").append(v.cv)
                .append(", first at ").append(v.firstPath).append(" (--stub-missing)\nmodule ")
                .append(NetlistNames.verilog(v.name)).append('(').append(ports).append(");\n");
            for (String p : v.stubPorts) body.append("  inout ").append(NetlistNames.verilog(p)).append(";\n");
            body.append("endmodule\n");
        }
        StringBuilder b = new StringBuilder(head);
        b.append("// Each module is the Verilog of the cell view named above it, its name and its instances' types\n")
         .append("// set as the configuration binds them.\n");
        if (!leaves.isEmpty()) {
            b.append("// Leaf cells, from a cell library (not written here):\n");
            StringBuilder row = new StringBuilder("//  ");
            for (String leaf : leaves) {
                if (row.length() + leaf.length() > 100) {
                    b.append(row).append('\n');
                    row = new StringBuilder("//  ");
                }
                row.append(' ').append(leaf);
            }
            b.append(row).append('\n');
        }
        return b.append(body).toString();
    }

    private String filelist() throws WalkException {
        Set<String> files = new LinkedHashSet<>();
        TreeSet<String> leaves = new TreeSet<>();
        boolean[] unchanged = new boolean[1];
        for (Variant v : variants) {
            if (v.external) {
                leaves.add(v.name);
                continue;
            }
            if (v.stub) throw new WalkException(Zel.UNREADABLE, "a stub has no file; use zel export verilog --stub-missing");
            moduleText(v, unchanged);
            if (!unchanged[0]) {
                throw new WalkException(Zel.UNREADABLE, "the configuration binds " + v.cv + (v.firstPath.isEmpty() ? "" : " (at " + v.firstPath + ")")
                                           + " otherwise than its file says (module " + v.name + "): the files as they are "
                                           + "cannot express it; use zel export verilog");
            }
            files.add(v.dir.resolve(v.vm.verilog).toAbsolutePath().toString());
        }
        if (!leaves.isEmpty()) {
            io.err.println(Zel.NAME + " export: give the simulator the models of the leaf cells too: " + String.join(" ", leaves));
        }
        return String.join("\n", files) + "\n";
    }

    private String config(String head) {
        StringBuilder b = new StringBuilder(head);
        b.append("// A Verilog configuration (IEEE 1364-2005, section 13). iverilog 11, verilator 5 and yosys 0.23\n")
         .append("// do not read it; for them use zel export verilog.\n");
        String design = configCell(top.cv);
        b.append("// The libraries (a library map): each library and view of the design is one.\n");
        for (Map.Entry<String, String> e : mapLibraries.entrySet()) {
            b.append("library ").append(e.getKey()).append(" \"").append(e.getValue().replace("\\", "\\\\").replace("\"", "\\\""))
             .append("\";\n");
        }
        b.append("\nconfig ").append(NetlistNames.verilog(topModule + "_config")).append(";\n");
        b.append("  design ").append(design).append(";\n");
        // Every instance is named with its binding below; the libraries in the order met.
        b.append("  default liblist");
        for (String l : mapLibraries.keySet()) b.append(' ').append(l);
        b.append(";\n");
        for (String line : configLines) b.append(line).append('\n');
        return b.append("endconfig\n").toString();
    }
}
