package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelWarningListener;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.Writer;
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
    /**
     * Set to true, the walk binds one instance at a time instead of a level at once: the same
     * output, slower; the tests compare the two.
     */
    static final boolean ONE_BY_ONE = Boolean.getBoolean("zel.walk.oneByOne");

    static final String HELP = String.join("\n",
        "Usage: scripts/walk.sh [FORM] [--depth N] [--progress] [--config LIB/CELL/VIEW] [--libs FILE]",
        "",
        "Opens a configuration and walks the design hierarchy it describes, from its top",
        "cell down: each instance of a cell view is bound, and the walk goes into what it",
        "binds to until a stop rule, an open binding or a cell view without instances.",
        "For every instance it prints its name, its master (lib/cell/view), what it binds",
        "to (lib/cell/view, or open), which kind of rule chose the view and the library",
        "and view lists, the lists in effect, and the stop rules that end the walk there.",
        "The instances of a cell view come from the file instances.zel in its view",
        "directory (docs/walk.md). Everything is printed while the walk goes. Library",
        "warnings go to standard error.",
        "",
        "Forms (one at most):",
        "  --brief                 the tree, one line per instance, showing only what is not",
        "                          the configuration's default (the default form)",
        "  --full                  the tree with every instance's rules and lists",
        "  --json                  one JSON document, the instances nested",
        "  --jsonl                 JSON lines: the configuration, then one line per instance",
        "  --summary               counts: ends, stops, kinds of rule, bound cell views",
        "  --dot                   a Graphviz graph of the bound cell views",
        "  --diff LIB/CELL/VIEW    walk this configuration beside --config's and print the",
        "                          instances whose answers differ; exit status 0 when none",
        "                          does, 1 when some do, 2 when the walks cannot be done",
        "  --bindings              with --diff: compare what each instance binds to, nothing else",
        "",
        "Options:",
        "  --config LIB/CELL/VIEW  the configuration to walk (default: " + DEFAULT_CONFIG + ",",
        "                          the example)",
        "  --libs FILE             the library-definitions file (default: the example's when",
        "                          no --config is given, else kwo.lib from $ZEL_SETUP_PATH,",
        "                          the current directory or $HOME, else the example's)",
        "  --depth N               walk at most N levels of instances below the top cell",
        "  --progress              show the progress on standard error (shown by default",
        "                          when it is a terminal); --no-progress never shows it",
        "  --help                  print this text",
        "",
        "Exit status: 0 when the walk was printed, 1 when it could not be done, 2 for a",
        "wrong command line (--diff: see above).",
        "");

    /** The forms of output. */
    enum Form {
        BRIEF("--brief"), FULL("--full"), JSON("--json"), JSONL("--jsonl"), SUMMARY("--summary"), DOT("--dot"),
        DIFF("--diff");

        final String option;

        Form(String option) {
            this.option = option;
        }
    }

    /** Instances of the design's cell views kept in memory, at most (Design). */
    static final int DESIGN_KEPT = 200_000;

    /** What the command line asks for. */
    static final class Options {
        boolean help;
        Form form;
        int depth = Integer.MAX_VALUE;
        String config;
        String diff;
        /** --diff compares the bindings only. */
        boolean bindings;
        String libs;
        /** How messages name the configurations and the help: the tool's options, or zel's words. */
        String configWord = "--config";
        String diffWord = "--diff";
        String helpHint = "run with --help for the options";
        /** --progress, --no-progress, or null: when standard error is a terminal. */
        Boolean progress;
    }

    private Walk() {
    }

    public static void main(String[] args) {
        // Not a PrintStream: it would swallow a reader's going away (walk | head), and the walk
        // would go on to its end for nobody.
        OutputStream out = new FileOutputStream(FileDescriptor.out);
        PrintStream err = new PrintStream(new FileOutputStream(FileDescriptor.err), true, StandardCharsets.UTF_8);
        int status = run(args, out, err, System.getenv("ZEL_SETUP_PATH"), System.getenv("HOME"),
                         Progress.stderrIsTerminal());
        err.flush();
        System.exit(status);
    }

    /** Runs the command with standard error taken for a file, not a terminal. */
    public static int run(String[] args, OutputStream out, PrintStream err, String setupPath, String home) {
        return run(args, out, err, setupPath, home, false);
    }

    /**
     * Runs the command.
     *
     * @param errTerminal whether {@code err} is a terminal
     * @return the exit status
     */
    public static int run(String[] args, OutputStream out, PrintStream err, String setupPath, String home,
                          boolean errTerminal) {
        return run(args, out, err, setupPath, home, errTerminal, null);
    }

    /**
     * Runs the walk for {@code zel walk} and {@code zel diff}: messages start with
     * {@code voice.command} and name the configurations as that command's words; a walk that
     * cannot be done gives {@link Zel#UNREADABLE}.
     */
    static int run(String[] args, OutputStream out, PrintStream err, String setupPath, String home,
                   boolean errTerminal, Voice voice) {
        String name = voice != null ? voice.command : NAME;
        int cannot = voice != null ? Zel.UNREADABLE : 1;
        Options options = null;
        try {
            options = parse(args, voice);
            boolean shown = options.progress != null ? options.progress : errTerminal;
            Progress progress = new Progress(err, shown, errTerminal);
            Writer writer = new Utf8Writer(out);
            try {
                if (options.help) {
                    writer.write(HELP);
                    writer.flush();
                    return 0;
                }
                int status = walk(options, writer, err, progress, setupPath, home);
                writer.flush();
                progress.finish();
                return status;
            } catch (IOException e) {
                progress.clear();
                // A reader that went away (walk | head) has what it wanted.
                String why = e.getMessage() == null ? e.toString() : e.getMessage();
                if (!why.contains("Broken pipe")) err.println(name + ": cannot write the output (" + why + ")");
                return voice != null ? cannot : options.form == Form.DIFF ? 2 : 1;
            }
        } catch (WalkException e) {
            err.println(name + ": " + e.getMessage());
            if (voice != null) return e.status == 1 ? cannot : e.status;
            return options != null && options.form == Form.DIFF ? 2 : e.status;
        }
    }

    /** How zel's commands speak when they run the walk. */
    static final class Voice {
        final String command;
        final String configWord;
        final String diffWord;

        Voice(String command, String configWord, String diffWord) {
            this.command = command;
            this.configWord = configWord;
            this.diffWord = diffWord;
        }
    }

    static Options parse(String[] args) throws WalkException {
        return parse(args, null);
    }

    private static Options parse(String[] args, Voice voice) throws WalkException {
        Options options = new Options();
        if (voice != null) {
            options.configWord = voice.configWord;
            options.diffWord = voice.diffWord;
            options.helpHint = "zel help " + voice.command.substring(voice.command.indexOf(' ') + 1);
        }
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
                case "--brief":
                case "--full":
                case "--json":
                case "--jsonl":
                case "--summary":
                case "--dot":
                case "--diff": {
                    Form form = Form.valueOf(arg.substring(2).toUpperCase(java.util.Locale.ROOT));
                    if (options.form != null && options.form != form) {
                        throw new WalkException(2, options.form.option + " and " + arg
                                                   + " cannot be combined; choose one form of output");
                    }
                    options.form = form;
                    if (form == Form.DIFF) options.diff = value != null ? value : argument(args, ++i, "--diff", "LIB/CELL/VIEW", options);
                    break;
                }
                case "--bindings":
                    options.bindings = true;
                    break;
                case "--progress":
                    options.progress = true;
                    break;
                case "--no-progress":
                    options.progress = false;
                    break;
                case "--depth": {
                    String n = value != null ? value : argument(args, ++i, "--depth", "N", options);
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
                    options.config = value != null ? value : argument(args, ++i, "--config", "LIB/CELL/VIEW", options);
                    break;
                case "--libs":
                    options.libs = value != null ? value : argument(args, ++i, "--libs", "FILE", options);
                    break;
                default:
                    if (arg.startsWith("-")) {
                        throw new WalkException(2, "unknown option '" + arg + "'; " + options.helpHint);
                    }
                    throw new WalkException(2, "unexpected argument '" + arg
                                               + "'; give the configuration as --config LIB/CELL/VIEW");
            }
        }
        if (options.form == null) options.form = Form.BRIEF;
        if (options.diff != null) configName(options.diff, options.diffWord);
        if (options.bindings && options.form != Form.DIFF) {
            throw new WalkException(2, "--bindings goes with " + (options.configWord.startsWith("--") ? "--diff" : "zel diff") + " only");
        }
        if (options.config != null) configName(options.config, options.configWord);
        return options;
    }

    private static String argument(String[] args, int i, String option, String what, Options options) throws WalkException {
        if (i >= args.length) throw new WalkException(2, option + " needs " + what + "; " + options.helpHint);
        return args[i];
    }

    /** The three names of a configuration on the command line. */
    static CellView configName(String text, String option) throws WalkException {
        String[] parts = text.split("/", -1);
        if (parts.length != 3 || parts[0].isEmpty() || parts[1].isEmpty() || parts[2].isEmpty()) {
            throw new WalkException(2, (option.startsWith("--") ? option + " takes" : "give " + option + " as")
                                       + " LIB/CELL/VIEW, for example " + DEFAULT_CONFIG + ", not '" + text + "'");
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

    /** Opens the configuration or configurations, walks and prints. */
    static int walk(Options options, Writer out, PrintStream err, Progress progress, String setupPath, String home)
            throws WalkException, IOException {
        CellView name = configName(options.config != null ? options.config : DEFAULT_CONFIG, options.configWord);
        Path libs = definitionsFile(options, setupPath, home);
        boolean zel = !options.configWord.startsWith("--");
        String name0 = zel ? "zel " + (options.form == Form.DIFF ? "diff" : "walk") : NAME;
        ZelWarningListener warnings = text -> {
            progress.clear();
            err.println(name0 + ": warning: " + (zel ? Zel.inZelWords(text) : text));
        };
        try {
            ZelConfig.init(libs.toString());  // the first use loads the bridge
        } catch (UnsatisfiedLinkError e) {
            // The loader's message names the platform, the places tried and the setting to use.
            throw new WalkException(1, "cannot load the bridge library: " + e.getMessage());
        }
        Design design = new Design(LibraryDefinitions.loaded(), warnings, DESIGN_KEPT);
        ZelConfig config = open(name, options.configWord, options.libs != null, warnings);
        try {
            WalkHeader header = WalkHeader.of(config);
            // JSON shows every answer of a bind, the full tree and the difference the lists as
            // written; the other forms read only the kinds of rule and the lists in effect.
            boolean everything = options.form == Form.JSON || options.form == Form.JSONL
                                 || options.form == Form.FULL || options.form == Form.DIFF;
            Walker walker = new Walker(config, design, warnings, options.depth, progress, everything).wholeLevels(!ONE_BY_ONE);
            if (options.form == Form.DIFF) {
                CellView other = configName(options.diff, options.diffWord);
                ZelConfig second = open(other, options.diffWord, options.libs != null, warnings);
                try {
                    Walker beside = new Walker(second, design, warnings, options.depth,
                                               new Progress(err, false, false), true).wholeLevels(!ONE_BY_ONE);
                    return new Diff(out, walker, header, beside, WalkHeader.of(second)).bindingsOnly(options.bindings).run() ? 1 : 0;
                } finally {
                    second.close();
                }
            }
            walker.walk(sink(options.form, out, header));
            return 0;
        } finally {
            config.close();
        }
    }

    private static WalkSink sink(Form form, Writer out, WalkHeader header) {
        switch (form) {
            case FULL: return new TreePrinter(out, header, false);
            case JSON: return new JsonPrinter(out, header, false);
            case JSONL: return new JsonPrinter(out, header, true);
            case SUMMARY: return new SummaryPrinter(out, header);
            case DOT: return new DotPrinter(out, header);
            default: return new TreePrinter(out, header, true);
        }
    }

    private static ZelConfig open(CellView name, String option, boolean libsGiven, ZelWarningListener warnings)
            throws WalkException {
        ZelConfig config = new ZelConfig();
        if (!config.open(name.lib, name.cell, name.view, "r", warnings)) {
            throw new WalkException(1, "configuration " + name + " does not open (see the warning above); check "
                                       + (option.startsWith("--") ? option + " LIB/CELL/VIEW and --libs FILE"
                                          : "its name" + (libsGiven ? " and --libs FILE" : "")));
        }
        return config;
    }
}
