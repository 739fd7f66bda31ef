package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelWarningListener;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;

/**
 * The walk command: opens a configuration and prints the design hierarchy it describes, from
 * the top cell down. See {@link #HELP}.
 */
public final class Walk {
    static final String NAME = "zel-walk";

    /** The example's configuration, walked when no --config is given. */
    static final String DEFAULT_CONFIG = "design/chip/config";

    /** System property naming the examples directory; the command line's default libraries. */
    static final String EXAMPLES_PROPERTY = "zel.examples";

    static final String HELP = String.join("\n",
        "Usage: scripts/walk.sh [--json] [--depth N] [--config LIB/CELL/VIEW] [--libs FILE]",
        "",
        "Opens a configuration and walks the design hierarchy it describes, from its top",
        "cell down: each instance of a cell view is bound, and the walk goes into what it",
        "binds to until a stop rule, an open binding or a cell view without instances.",
        "For every instance it prints its name, its master (lib/cell/view), what it binds",
        "to (lib/cell/view, or open), which kind of rule chose the view and the library",
        "and view lists, the lists in effect, and the stop rules that end the walk there.",
        "The instances of a cell view come from the file instances.zel in its view",
        "directory (docs/walk.md). Library warnings go to standard error.",
        "",
        "Options:",
        "  --config LIB/CELL/VIEW  the configuration to walk (default: " + DEFAULT_CONFIG + ",",
        "                          the example)",
        "  --libs FILE             the library-definitions file (default: the example's when",
        "                          no --config is given, else kwo.lib from $ZEL_SETUP_PATH,",
        "                          the current directory or $HOME, else the example's)",
        "  --depth N               walk at most N levels of instances below the top cell",
        "  --json                  print JSON instead of a tree",
        "  --help                  print this text",
        "",
        "Exit status: 0 when the walk was printed, 1 when it could not be done, 2 for a",
        "wrong command line.",
        "");

    /** What the command line asks for. */
    static final class Options {
        boolean help;
        boolean json;
        int depth = Integer.MAX_VALUE;
        String config;
        String libs;
    }

    private Walk() {
    }

    public static void main(String[] args) {
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), false, StandardCharsets.UTF_8);
        PrintStream err = new PrintStream(new FileOutputStream(FileDescriptor.err), true, StandardCharsets.UTF_8);
        int status = run(args, out, err, System.getenv("ZEL_SETUP_PATH"), System.getenv("HOME"));
        out.flush();
        err.flush();
        System.exit(status);
    }

    /**
     * Runs the command.
     *
     * @return the exit status
     */
    public static int run(String[] args, PrintStream out, PrintStream err, String setupPath, String home) {
        try {
            Options options = parse(args);
            if (options.help) {
                out.print(HELP);
                return 0;
            }
            WalkResult result = walk(options, err, setupPath, home);
            if (options.json) new JsonPrinter(out).print(result);
            else new TreePrinter(out).print(result);
            return 0;
        } catch (WalkException e) {
            err.println(NAME + ": " + e.getMessage());
            return e.status;
        }
    }

    static Options parse(String[] args) throws WalkException {
        Options options = new Options();
        for (int i = 0; i < args.length; ++i) {
            String arg = args[i];
            String value = null;
            int eq = arg.indexOf('=');
            if (arg.startsWith("--") && eq > 0) {
                value = arg.substring(eq + 1);
                arg = arg.substring(0, eq);
            }
            switch (arg) {
                case "--help":
                case "-h":
                    options.help = true;
                    break;
                case "--json":
                    options.json = true;
                    break;
                case "--depth": {
                    String n = value != null ? value : argument(args, ++i, "--depth", "N");
                    try {
                        options.depth = Integer.parseInt(n);
                    } catch (NumberFormatException e) {
                        options.depth = -1;
                    }
                    if (options.depth < 0) {
                        throw new WalkException(2, "--depth takes a number of levels, 0 or more, not '" + n + "'");
                    }
                    break;
                }
                case "--config":
                    options.config = value != null ? value : argument(args, ++i, "--config", "LIB/CELL/VIEW");
                    break;
                case "--libs":
                    options.libs = value != null ? value : argument(args, ++i, "--libs", "FILE");
                    break;
                default:
                    if (arg.startsWith("-")) {
                        throw new WalkException(2, "unknown option '" + arg + "'; run with --help for the options");
                    }
                    throw new WalkException(2, "unexpected argument '" + arg
                                               + "'; give the configuration as --config LIB/CELL/VIEW");
            }
        }
        return options;
    }

    private static String argument(String[] args, int i, String option, String what) throws WalkException {
        if (i >= args.length) throw new WalkException(2, option + " needs " + what + "; run with --help for the options");
        return args[i];
    }

    /** The three names of --config. */
    static CellView configName(String text) throws WalkException {
        String[] parts = text.split("/", -1);
        if (parts.length != 3 || parts[0].isEmpty() || parts[1].isEmpty() || parts[2].isEmpty()) {
            throw new WalkException(2, "--config takes LIB/CELL/VIEW, for example " + DEFAULT_CONFIG + ", not '" + text + "'");
        }
        return new CellView(parts[0], parts[1], parts[2]);
    }

    /** The library-definitions file the command line asks for. */
    static Path definitionsFile(Options options, String setupPath, String home) throws WalkException {
        if (options.libs != null) {
            Path file;
            try {
                file = Path.of(options.libs);
            } catch (InvalidPathException e) {
                throw new WalkException(1, "'" + options.libs + "' is not a file name; give the definitions file with --libs FILE");
            }
            if (!Files.isRegularFile(file)) {
                throw new WalkException(1, "library definitions file '" + options.libs
                                           + "' not found; give an existing file with --libs FILE");
            }
            return file;
        }
        String examples = System.getProperty(EXAMPLES_PROPERTY);
        if (options.config == null && examples != null && !examples.isEmpty()) {
            Path file = Path.of(examples, LibraryDefinitions.SETUP_FILE);
            if (!Files.isRegularFile(file)) {
                throw new WalkException(1, "the example's " + file + " is missing; restore examples/ or give --libs FILE");
            }
            return file;
        }
        Path found = LibraryDefinitions.searchSetupFile(setupPath, home);
        if (found == null && examples != null && !examples.isEmpty()) {
            // Another configuration of the example, most likely.
            found = Path.of(examples, LibraryDefinitions.SETUP_FILE);
        }
        if (found == null) {
            throw new WalkException(1, "no library definitions file: none given and no " + LibraryDefinitions.SETUP_FILE
                                       + " in $ZEL_SETUP_PATH, the current directory or $HOME; give one with --libs FILE");
        }
        return found;
    }

    static WalkResult walk(Options options, PrintStream err, String setupPath, String home) throws WalkException {
        CellView name = configName(options.config != null ? options.config : DEFAULT_CONFIG);
        Path libs = definitionsFile(options, setupPath, home);
        LibraryDefinitions definitions = LibraryDefinitions.read(libs);
        ZelWarningListener warnings = text -> err.println(NAME + ": warning: " + text);
        try {
            ZelConfig.init(libs.toString());  // the first use loads the bridge
        } catch (UnsatisfiedLinkError e) {
            // The loader's message names the platform, the places tried and the setting to use.
            throw new WalkException(1, "cannot load the bridge library: " + e.getMessage());
        }
        ZelConfig config = new ZelConfig();
        if (!config.open(name.lib, name.cell, name.view, "r", warnings)) {
            throw new WalkException(1, "configuration " + name + " does not open (see the warning above); check --config "
                                       + "LIB/CELL/VIEW and --libs FILE");
        }
        try {
            Node root = new Walker(config, definitions, warnings, options.depth).walk();
            CellView location = new CellView(config.getLibName(), config.getCellName(), config.getViewName());
            return new WalkResult(location, config.getRevision(), config.getNoteString(), root);
        } finally {
            config.close();
        }
    }
}
