package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeSet;
import java.util.stream.Stream;

/**
 * {@code zel import verilog} and {@code zel import json}: a design's modules become cell views of
 * a design library (docs/import-export.md). Each module is the view LIB/CELL/VIEW: its instances
 * ({@code instances.zel}), its Verilog as yosys writes it ({@code module.v}) and its module file
 * ({@code module.zel}: its own name, its parameters).
 */
final class Import {
    static final String HELP = String.join("\n",
        "Reads Verilog through yosys (verilog), or a JSON netlist yosys wrote (json), and writes each",
        "module as the cell view LIB/CELL/VIEW: its instances, its Verilog and its own name. Cells with",
        "no module in the sources (standard cells, yosys's gates, blackboxes) become cells of the leaf",
        "library. Importing another view of the same cells adds views and changes no other view.",
        "Options:",
        "  --lib LIB          the library the modules go into (defined in --libs FILE)",
        "  --view VIEW        the view they become",
        "  --top MODULE       the top module: a starter configuration LIB/TOP/config is written",
        "                     unless there is one (verilog: only what the top instantiates is imported)",
        "  --config VIEW      the starter configuration's view (default: config)",
        "  -I DIR, -D NAME[=VALUE]   include folders and defines for yosys (verilog)",
        "  --verilog FILE     json: the Verilog yosys wrote for the same netlist, kept per module",
        "  --leaf-lib LIB     the leaf library (default: cells)",
        "  --leaf-view VIEW   the leaf cells' view (default: cell)",
        "  --cell MODULE=CELL the cell a module becomes, for a netlist whose names were made",
        "                     unique (gpio_1803=gpio); may be repeated",
        Zel.LIBS_HELP,
        "Exit status: 0 imported; 1 it could not be (yosys missing or failing, a library not",
        "defined); 2 a wrong command line.");

    private final Zel.Io io;
    private String lib;
    private String view;
    private String top;
    private String configView = "config";
    private String leafLib = "cells";
    private String leafView = "cell";
    private String verilogFile;
    private String libs;
    private final List<String> includes = new ArrayList<>();
    private final List<String> defines = new ArrayList<>();
    private final List<String> files = new ArrayList<>();
    private final Map<String, String> cellMap = new HashMap<>();

    private Import(Zel.Io io) {
        this.io = io;
    }

    static int run(String[] args, Zel.Io io) throws WalkException, IOException {
        if (args.length == 0 || !(args[0].equals("verilog") || args[0].equals("json"))) {
            throw new WalkException(2, "say what to import: zel import verilog ... or zel import json ...; zel help import");
        }
        Import im = new Import(io);
        im.parse(args);
        return im.importDesign(args[0].equals("verilog"));
    }

    private void parse(String[] args) throws WalkException {
        for (int i = 1; i < args.length; ++i) {
            String a = args[i];
            String value = null;
            if (a.startsWith("-I") && a.length() > 2) {
                includes.add(a.substring(2));
                continue;
            }
            if (a.startsWith("-D") && a.length() > 2) {
                defines.add(a.substring(2));
                continue;
            }
            if (a.startsWith("--") && a.contains("=") && !a.startsWith("--cell=")) {
                value = a.substring(a.indexOf('=') + 1);
                a = a.substring(0, a.indexOf('='));
            }
            boolean valued = List.of("--lib", "--view", "--top", "--config", "--leaf-lib", "--leaf-view", "--verilog", "--libs", "--cell",
                                     "-I", "-D").contains(a);
            if (valued && value == null) {
                if (i + 1 >= args.length) throw new WalkException(2, a + " needs a value; zel help import");
                value = args[++i];
            }
            switch (a) {
                case "--lib": lib = value; break;
                case "--view": view = value; break;
                case "--top": top = value; break;
                case "--config": configView = value; break;
                case "--leaf-lib": leafLib = value; break;
                case "--leaf-view": leafView = value; break;
                case "--verilog": verilogFile = value; break;
                case "--libs": libs = value; break;
                case "-I": includes.add(value); break;
                case "-D": defines.add(value); break;
                case "--cell": {
                    int eq = value.indexOf('=');
                    if (eq <= 0 || eq == value.length() - 1) throw new WalkException(2, "--cell takes MODULE=CELL, not '" + value + "'");
                    cellMap.put(value.substring(0, eq), value.substring(eq + 1));
                    break;
                }
                default:
                    if (a.startsWith("-") && a.length() > 1) throw new WalkException(2, "unknown option '" + a + "'; zel help import");
                    files.add(a);
            }
        }
        if (lib == null || view == null) throw new WalkException(2, "give --lib LIB and --view VIEW; zel help import");
        if (files.isEmpty()) throw new WalkException(2, "give the files to import; zel help import");
        for (String name : new String[] {lib, view, leafLib, leafView, configView}) {
            if (!LibraryDefinitions.isPathComponent(name)) {
                throw new WalkException(2, "'" + name + "' cannot name a library or a view (it becomes a folder name)");
            }
        }
    }

    private String cellOf(String module) {
        String mapped = cellMap.get(module);
        return mapped != null ? mapped : NetlistNames.cellOf(module);
    }

    private int importDesign(boolean verilog) throws WalkException, IOException {
        Walk.Options options = new Walk.Options();
        options.libs = libs;
        options.config = lib + "/-/-";
        Path definitions = Walk.definitionsFile(options, io.setupPath, io.home);
        try {
            ZelConfig.init(definitions.toString());  // the libraries as the configuration library reads them
        } catch (UnsatisfiedLinkError e) {
            throw new WalkException(Zel.UNREADABLE, "cannot load the bridge library: " + e.getMessage());
        }
        LibraryDefinitions libraries = LibraryDefinitions.loaded();
        Path libDir = libraryDir(libraries, lib, definitions);
        Path jsonFile;
        String verilogText = null;
        Path scratch = null;
        long started = System.nanoTime();
        try {
            if (verilog) {
                scratch = Files.createTempDirectory("zel-import");
                runYosys(scratch);
                jsonFile = scratch.resolve("design.json");
            } else {
                if (files.size() != 1) throw new WalkException(2, "zel import json takes one JSON file");
                jsonFile = Path.of(files.get(0));
                if (verilogFile != null) verilogText = read(Path.of(verilogFile));
            }
            Object doc;
            try {
                doc = YosysJson.parse(jsonFile.toString(), read(jsonFile));
            } catch (YosysJson.JsonException e) {
                throw new WalkException(Zel.UNREADABLE, e.getMessage());
            }
            Map<String, Map<String, Object>> modules = modulesOf(doc, jsonFile);
            boolean gates = false;
            for (Map<String, Object> m : modules.values()) {
                for (Object c : cellsOf(m).values()) {
                    if (type(c).startsWith("$_")) gates = true;
                }
            }
            if (verilog) {
                // Gate-level: yosys's gates are instances (of leaf cells); else its operators stay expressions.
                verilogText = read(scratch.resolve(gates ? "noexpr.v" : "expr.v"));
            }
            Map<String, String> texts = verilogText == null ? Map.of() : VerilogText.modules(verilogText);
            return write(modules, texts, gates, libraries, libDir, definitions, started);
        } finally {
            if (scratch != null) deleteTree(scratch);
        }
    }

    private static Path libraryDir(LibraryDefinitions libraries, String name, Path definitions) throws WalkException {
        Path dir = libraries.directory(name);
        if (dir == null) {
            throw new WalkException(Zel.UNREADABLE, "library " + name + " is not defined in " + definitions + "; add 'DEFINE " + name
                                       + " DIRECTORY' to it");
        }
        if (!Files.isDirectory(dir)) throw new WalkException(Zel.UNREADABLE, "the folder of library " + name + ", " + dir + ", does not exist; make it");
        return dir;
    }

    private void runYosys(Path scratch) throws WalkException, IOException {
        String yosys = findOnPath("yosys");
        if (yosys == null) {
            throw new WalkException(Zel.UNREADABLE, "yosys is not installed (not on the PATH); on Debian: apt-get install yosys. "
                                       + "Or give zel import json a netlist yosys wrote elsewhere");
        }
        StringBuilder read = new StringBuilder("read_verilog");
        for (String d : defines) read.append(" -D").append(yosysWord(d));
        for (String i : includes) read.append(" -I").append(yosysWord(Path.of(i).toAbsolutePath().toString()));
        for (String f : files) {
            Path p = Path.of(f);
            if (!Files.isRegularFile(p)) throw new WalkException(Zel.UNREADABLE, "no file " + f);
            read.append(' ').append(yosysWord(p.toAbsolutePath().toString()));
        }
        String script = String.join("\n",
            read.toString(),
            top == null ? "hierarchy" : "hierarchy -top " + top,
            "proc",
            // Short names for yosys's own wires and cells, the same in the JSON and the Verilog.
            "rename -enumerate",
            "write_json " + yosysWord(scratch.resolve("design.json").toString()),
            "write_verilog -noattr " + yosysWord(scratch.resolve("expr.v").toString()),
            "write_verilog -noattr -noexpr " + yosysWord(scratch.resolve("noexpr.v").toString()),
            "");
        Path scriptFile = scratch.resolve("import.ys");
        Files.writeString(scriptFile, script, StandardCharsets.UTF_8);
        Path log = scratch.resolve("yosys.log");
        ProcessBuilder pb = new ProcessBuilder(yosys, "-q", "-s", scriptFile.toString());
        pb.redirectErrorStream(true).redirectOutput(log.toFile());
        int status;
        try {
            status = pb.start().waitFor();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new WalkException(Zel.UNREADABLE, "interrupted while yosys ran");
        }
        String out = Files.exists(log) ? Files.readString(log, StandardCharsets.UTF_8) : "";
        for (String line : out.split("\n")) {
            if (line.startsWith("Warning:")) io.err.println(Zel.NAME + " import: yosys: " + line);
        }
        if (status != 0) {
            String[] lines = out.strip().split("\n");
            StringBuilder tail = new StringBuilder();
            for (int i = Math.max(0, lines.length - 12); i < lines.length; ++i) tail.append("\n  ").append(lines[i]);
            throw new WalkException(Zel.UNREADABLE, "yosys could not read the design (exit status " + status + "):" + tail);
        }
    }

    /** A word of a yosys script: in double quotes, which its command line reads as one word. */
    private static String yosysWord(String s) {
        return "\"" + s.replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
    }

    static String findOnPath(String program) {
        String path = System.getenv("PATH");
        if (path == null) return null;
        for (String dir : path.split(":")) {
            if (dir.isEmpty()) continue;
            Path p = Path.of(dir, program);
            if (Files.isRegularFile(p) && Files.isExecutable(p)) return p.toString();
        }
        return null;
    }

    @SuppressWarnings("unchecked")
    private static Map<String, Map<String, Object>> modulesOf(Object doc, Path file) throws WalkException {
        if (!(doc instanceof Map) || !(((Map<String, Object>) doc).get("modules") instanceof Map)) {
            throw new WalkException(Zel.UNREADABLE, file + ": no \"modules\"; is it a JSON netlist of yosys (write_json)?");
        }
        Map<String, Map<String, Object>> modules = new LinkedHashMap<>();
        for (Map.Entry<String, Object> e : ((Map<String, Object>) ((Map<String, Object>) doc).get("modules")).entrySet()) {
            if (e.getValue() instanceof Map) modules.put(verilogName(e.getKey()), (Map<String, Object>) e.getValue());
        }
        return modules;
    }

    /**
     * A name of the JSON as the Verilog writes it: yosys keeps the backslash of a public name
     * that starts with '$' ({@code \$odd}), to tell it from its own names; Verilog cannot.
     */
    static String verilogName(String json) {
        return json.startsWith("\\") ? json.substring(1) : json;
    }

    @SuppressWarnings("unchecked")
    private static Map<String, Object> cellsOf(Map<String, Object> module) {
        Object cells = module.get("cells");
        if (!(cells instanceof Map)) return Map.of();
        Map<String, Object> named = new LinkedHashMap<>();
        for (Map.Entry<String, Object> e : ((Map<String, Object>) cells).entrySet()) named.put(verilogName(e.getKey()), e.getValue());
        return named;
    }

    @SuppressWarnings("unchecked")
    private static String type(Object cell) {
        Object t = cell instanceof Map ? ((Map<String, Object>) cell).get("type") : null;
        return t == null ? "" : verilogName(t.toString());
    }

    @SuppressWarnings("unchecked")
    private static Map<String, Object> map(Object o, String key) {
        Object v = o instanceof Map ? ((Map<String, Object>) o).get(key) : null;
        return v instanceof Map ? (Map<String, Object>) v : Map.of();
    }

    private static boolean isBlackbox(Map<String, Object> module) {
        Map<String, Object> attributes = map(module, "attributes");
        for (String key : List.of("blackbox", "whitebox")) {
            Object v = attributes.get(key);
            if (v != null && !v.toString().matches("0*")) return true;
        }
        return false;
    }

    private int write(Map<String, Map<String, Object>> modules, Map<String, String> texts, boolean gates,
                      LibraryDefinitions libraries, Path libDir, Path definitions, long started)
            throws WalkException, IOException {
        Map<String, String> cellOfModule = new LinkedHashMap<>();
        Map<String, String> moduleOfCell = new HashMap<>();
        for (Map.Entry<String, Map<String, Object>> e : modules.entrySet()) {
            if (isBlackbox(e.getValue())) continue;
            String cell = cellOf(e.getKey());
            String other = moduleOfCell.put(cell, e.getKey());
            if (other != null) {
                throw new WalkException(Zel.UNREADABLE, "modules " + other + " and " + e.getKey() + " would both become cell " + cell
                                           + "; give one another with --cell MODULE=CELL");
            }
            cellOfModule.put(e.getKey(), cell);
        }
        // The cells no module of the sources defines: of the leaf library.
        TreeSet<String> leaves = new TreeSet<>();
        long instances = 0;
        for (Map.Entry<String, String> e : cellOfModule.entrySet()) {
            Map<String, Object> module = modules.get(e.getKey());
            Path dir = libDir.resolve(e.getValue()).resolve(view);
            Files.createDirectories(dir);
            StringBuilder design = new StringBuilder("# Instances of " + lib + "/" + e.getValue() + ":" + view
                                                     + ", imported by zel import from module " + e.getKey().replace('\n', ' ') + "\n");
            design.append("zel-instances 1\n");
            for (Map.Entry<String, Object> c : cellsOf(module).entrySet()) {
                String type = type(c.getValue());
                String masterLib;
                String masterCell;
                if (cellOfModule.containsKey(type)) {
                    masterLib = lib;
                    masterCell = cellOfModule.get(type);
                } else if (type.startsWith("$") && !gates) {
                    continue;  // an operator of yosys, written as an expression in the Verilog
                } else {
                    masterLib = leafLib;
                    masterCell = cellOf(type);
                    leaves.add(type);
                }
                design.append("inst ").append(ConfigFile.word(c.getKey())).append(' ').append(ConfigFile.word(masterLib))
                      .append(' ').append(ConfigFile.word(masterCell)).append(" -\n");
                ++instances;
            }
            Files.writeString(dir.resolve(DesignFile.FILE_NAME), design, StandardCharsets.UTF_8);
            ViewModule vm = new ViewModule();
            vm.module = e.getKey();
            if (e.getKey().startsWith("$paramod")) vm.base = NetlistNames.paramodBase(e.getKey());
            for (Map.Entry<String, Object> p : map(module, "parameter_default_values").entrySet()) {
                vm.parameters.add(new String[] {p.getKey(), String.valueOf(p.getValue())});
            }
            String text = texts.get(e.getKey());
            Path v = dir.resolve(ViewModule.VERILOG_FILE);
            if (text != null) {
                Files.writeString(v, text, StandardCharsets.UTF_8);
                vm.verilog = ViewModule.VERILOG_FILE;
            } else {
                Files.deleteIfExists(v);
            }
            Files.writeString(dir.resolve(ViewModule.FILE_NAME), vm.text(), StandardCharsets.UTF_8);
        }
        for (Map.Entry<String, Map<String, Object>> e : modules.entrySet()) {
            if (isBlackbox(e.getValue())) leaves.add(e.getKey());
        }
        if (!leaves.isEmpty()) {
            Path leafDir = libraryDir(libraries, leafLib, definitions);
            for (String type : leaves) {
                Path dir = leafDir.resolve(cellOf(type)).resolve(leafView);
                if (Files.exists(dir.resolve(ViewModule.FILE_NAME))) continue;
                Files.createDirectories(dir);
                ViewModule vm = new ViewModule();
                vm.module = type;
                vm.leaf = true;
                Files.writeString(dir.resolve(ViewModule.FILE_NAME), vm.text(), StandardCharsets.UTF_8);
            }
        }
        String config = "";
        if (top != null) config = starter(libDir, modules, !leaves.isEmpty());
        StringBuilder b = new StringBuilder();
        b.append(String.format("imported %,d module%s as %s/*/%s (%,d instance%s)", cellOfModule.size(),
                               cellOfModule.size() == 1 ? "" : "s", lib, view, instances, instances == 1 ? "" : "s"));
        if (!leaves.isEmpty()) {
            b.append(String.format("; %,d cells with no module in the sources, as %s/*/%s", leaves.size(), leafLib, leafView));
        }
        b.append(String.format(" in %.1f s%n", (System.nanoTime() - started) / 1e9));
        b.append(config);
        Zel.write(io, b.toString());
        return 0;
    }

    // The starter configuration of the top, unless one exists: the walk descends through every
    // imported cell and ends at the leaf cells by a rule.
    private String starter(Path libDir, Map<String, Map<String, Object>> modules, boolean withLeaves)
            throws WalkException, IOException {
        String topModule = top;
        if (!modules.containsKey(topModule)) {
            // yosys keeps the name; a netlist read as JSON may carry it under another.
            throw new WalkException(Zel.UNREADABLE, "no module " + top + " in the netlist");
        }
        String cell = cellOf(topModule);
        String where = lib + "/" + cell + "/" + configView;
        Path file = libDir.resolve(cell).resolve(configView).resolve("config.zel");
        if (Files.exists(file)) return "kept the configuration " + where + ", which exists\n";
        Files.createDirectories(file.getParent());
        List<String> lines = new ArrayList<>(List.of(
            "# zelvek hierarchy configuration",
            "zelvek-config 1",
            "location " + ConfigFile.word(lib) + " " + ConfigFile.word(cell) + " " + ConfigFile.word(configView),
            "revision 1",
            "top " + ConfigFile.word(lib) + " " + ConfigFile.word(cell) + " " + ConfigFile.word(view),
            "default-views " + ConfigFile.word(view),
            "default-libs " + ConfigFile.word(withLeaves ? lib + " " + leafLib : lib)));
        if (withLeaves) {
            lines.add("note " + ConfigFile.word("Made by zel import: the " + view + " views, down to the cells of " + leafLib + "."));
            lines.addAll(List.of("library " + ConfigFile.word(leafLib), "  views " + ConfigFile.word(leafView),
                                 "  stops " + ConfigFile.word(leafView)));
        } else {
            lines.add("note " + ConfigFile.word("Made by zel import: the " + view + " views."));
        }
        lines.add("");
        Files.writeString(file, String.join("\n", lines), StandardCharsets.UTF_8);
        return "wrote the configuration " + where + " (top " + lib + " " + cell + " " + view + ")\n";
    }

    private static String read(Path file) throws WalkException {
        try {
            return Files.readString(file, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new WalkException(Zel.UNREADABLE, "cannot read " + file + " (" + e.getMessage() + ")");
        }
    }

    private static void deleteTree(Path dir) {
        try (Stream<Path> walk = Files.walk(dir)) {
            walk.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        } catch (IOException e) {
            // a temporary folder left behind harms nothing
        }
    }
}
