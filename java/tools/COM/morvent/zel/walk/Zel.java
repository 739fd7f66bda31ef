package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelLibrary;
import COM.morvent.zel.ZelWarningListener;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.Writer;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The {@code zel} command: one tool with a command per task ({@code zel walk}, {@code zel lint},
 * ...). bin/zel runs this class from the tools jar.
 *
 * <p>Adding a command: add one {@link Command} to {@link #COMMANDS} with its name, its usage,
 * a line of summary, its help text and a {@link Runner}. A command that lives in another package
 * and may be missing from a build is reached by class name instead ({@link #byClass}), with a
 * method {@code public static int run(String[] args)} that returns the exit status; {@code edit}
 * ({@code COM.morvent.zel.edit.Edit}) is one. The completion script (cmake/zel.bash) reads the
 * command names from {@code zel help --commands}.
 */
public final class Zel {
    static final String NAME = "zel";

    // The exit statuses of every command, one per kind of outcome (the table in docs/zel.md).
    /** Done; nothing found, no difference. */
    static final int DONE = 0;
    /** The answer is "yes": lint found something, diff found a difference, get found no such rule. */
    static final int FOUND = 1;
    /** A wrong command line. */
    static final int USAGE = 2;
    /** Cannot be done: the configuration, the definitions or the design cannot be read, or the output written. */
    static final int UNREADABLE = 3;
    /** Nothing changed: the change was refused or the save failed; the file is as it was. */
    static final int UNCHANGED = 4;

    static final String STATUS_HELP = "Exit status: 0 done; 1 found (lint), differ (diff), not set (get); 2 a wrong "
                                      + "command line;\n3 cannot read the configuration, definitions or design; 4 not "
                                      + "changed (set, unset).";

    /** What a command runs with. */
    static final class Io {
        final OutputStream out;
        final PrintStream err;
        final String setupPath;
        final String home;
        final boolean errTerminal;

        Io(OutputStream out, PrintStream err, String setupPath, String home, boolean errTerminal) {
            this.out = out;
            this.err = err;
            this.setupPath = setupPath;
            this.home = home;
            this.errTerminal = errTerminal;
        }
    }

    /** Runs a command with its arguments (the words after its name); gives the exit status. */
    interface Runner {
        int run(String[] args, Io io) throws WalkException, IOException;
    }

    /** One command of {@code zel}. */
    static final class Command {
        final String name;
        final String usage;
        final String summary;
        final String help;
        final Runner runner;

        Command(String name, String usage, String summary, String help, Runner runner) {
            this.name = name;
            this.usage = usage;
            this.summary = summary;
            this.help = help;
            this.runner = runner;
        }
    }

    static final String LIBS_HELP = String.join("\n",
        "  --libs FILE      the library-definitions file (default: kwo.lib from $ZEL_SETUP_PATH,",
        "                   the current directory or $HOME; in a checkout, the example's)");

    static final Map<String, Command> COMMANDS = new LinkedHashMap<>();

    private static void add(Command c) {
        COMMANDS.put(c.name, c);
    }

    static {
        add(new Command("walk", "zel walk [FORM] [CONFIG] [--depth N] [--progress] [--libs FILE]",
            "print the design hierarchy a configuration describes",
            String.join("\n",
                "Walks the design from the configuration's top cell down and prints every instance:",
                "what it binds to, which kind of rule chose it, the lists in effect, the stops.",
                "CONFIG is LIB/CELL/VIEW (default: the example's design/chip/config).",
                "FORM, one at most (with or without the leading --):",
                "  brief     only what is not the configuration's default (the default form)",
                "  full      every instance's rules and lists",
                "  json      one JSON document, the instances nested",
                "  jsonl     JSON lines: the configuration, then one line per instance",
                "  summary   counts: ends, stops, kinds of rule, bound cell views",
                "  dot       a Graphviz graph of the bound cell views",
                "Options:",
                "  --depth N        walk at most N levels below the top cell",
                "  --progress       show the progress on standard error (the default on a terminal);",
                "                   --no-progress never shows it",
                LIBS_HELP,
                STATUS_HELP),
            Zel::walk));
        add(new Command("diff", "zel diff A B [--bindings] [--depth N] [--libs FILE]",
            "walk two configurations side by side and print where they differ",
            String.join("\n",
                "Walks configurations A and B (each LIB/CELL/VIEW) over the same design and prints",
                "the instances whose answers differ.",
                "Options:",
                "  --bindings       compare only what each instance binds to, not the rules and",
                "                   lists that chose it",
                "  --depth N        walk at most N levels below the top cell",
                LIBS_HELP,
                STATUS_HELP),
            Zel::diff));
        add(new Command("show", "zel show CONFIG [--json] [--libs FILE]",
            "print a configuration's settings and rules in the file's order",
            String.join("\n",
                "Prints the settings, constants, note and rules of CONFIG (LIB/CELL/VIEW), one per",
                "line as 'zel get' and 'zel set' name them, in the order of its file.",
                "Options:",
                "  --json           one JSON document: each rule's kind, scope, property, values,",
                "                   key, text, comment and line",
                LIBS_HELP,
                STATUS_HELP),
            Show::run));
        add(new Command("lint", "zel lint CONFIG [--json] [--ignore KIND]... [--progress] [--libs FILE]",
            "find the rules that never apply, unknown names, open bindings",
            String.join("\n",
                "Walks the design CONFIG (LIB/CELL/VIEW) describes and reports, each with the rule,",
                "why and what to do:",
                "  never-applied  a rule, list or stop point that decided nothing in the walk",
                "  unknown-name   a library, cell or view no definition or cell view on disk has",
                "  open-binding   a rule that binds to open (a note)",
                "  unbound        instances that no view of their list binds (a note)",
                "Options:",
                "  --json           one JSON document",
                "  --ignore KIND    leave out the findings of a kind (may be repeated)",
                "  --progress       show the walk's progress on standard error (the default on a",
                "                   terminal); --no-progress never shows it",
                LIBS_HELP,
                "Notes do not count as found.",
                STATUS_HELP),
            LintCommand::run));
        add(new Command("get", "zel get CONFIG KEY [--json] [--libs FILE]",
            "print one setting or rule",
            Settings.GET_HELP, Settings::get));
        add(new Command("set", "zel set CONFIG KEY VALUE... [--dry-run] [--strict] [--libs FILE]",
            "change one setting or rule and save",
            Settings.SET_HELP, Settings::set));
        add(new Command("unset", "zel unset CONFIG KEY [--dry-run] [--libs FILE]",
            "remove one setting or rule and save",
            Settings.UNSET_HELP, Settings::unset));
        add(new Command("import", "zel import verilog|json --lib LIB --view VIEW [--top MODULE] [OPTIONS] FILE...",
            "turn a Verilog design or a yosys JSON netlist into cell views of a library",
            Import.HELP, Import::run));
        add(new Command("export", "zel export verilog|filelist|config CONFIG [-o FILE] [--stub-missing] [--libs FILE]",
            "write the hierarchy a configuration binds for simulators",
            Export.HELP, Export::run));
        // The hierarchy editor, when the build has it.
        add(byClass("edit", "zel edit [CONFIG] [OPTIONS]", "edit the hierarchy's bindings in a browser",
                    "COM.morvent.zel.edit.Edit"));
        add(new Command("help", "zel help [COMMAND]", "print the commands, or one command's help",
            "Prints the commands, or the usage and options of COMMAND.\n" + STATUS_HELP,
            Zel::help));
    }

    /**
     * A command implemented by {@code className}'s {@code public static int run(String[] args)},
     * which prints its own help for {@code --help}; the build may not have it.
     */
    static Command byClass(String name, String usage, String summary, String className) {
        return new Command(name, usage, summary, null, (args, io) -> {
            Method run;
            try {
                run = Class.forName(className).getMethod("run", String[].class);
            } catch (ClassNotFoundException | NoSuchMethodException e) {
                throw new WalkException(2, "'" + name + "' is not in this build of zel");
            }
            try {
                return (Integer) run.invoke(null, (Object) args);
            } catch (IllegalAccessException e) {
                throw new WalkException(2, className + ".run is not public");
            } catch (InvocationTargetException e) {
                Throwable cause = e.getCause();
                if (cause instanceof RuntimeException) throw (RuntimeException) cause;
                if (cause instanceof Error) throw (Error) cause;
                throw new WalkException(UNREADABLE, cause.toString());
            }
        });
    }

    private Zel() {
    }

    public static void main(String[] args) {
        OutputStream out = new FileOutputStream(FileDescriptor.out);
        PrintStream err = new PrintStream(new FileOutputStream(FileDescriptor.err), true, StandardCharsets.UTF_8);
        int status = run(args, new Io(out, err, System.getenv("ZEL_SETUP_PATH"), System.getenv("HOME"),
                                      Progress.stderrIsTerminal()));
        err.flush();
        System.exit(status);
    }

    /** Runs {@code zel} with its command line; gives the exit status. */
    static int run(String[] args, Io io) {
        if (args.length == 0) {
            io.err.print(overview());
            return 2;
        }
        String name = args[0];
        if (name.equals("--version") || name.equals("version")) return version(io);
        if (name.equals("--help") || name.equals("-h")) name = "help";
        Command command = COMMANDS.get(name);
        if (command == null) {
            io.err.println(NAME + ": unknown command '" + name + "'; the commands are " + String.join(", ", COMMANDS.keySet())
                           + " (zel help)");
            return 2;
        }
        String[] rest = Arrays.copyOfRange(args, 1, args.length);
        if (command.help != null && (Arrays.asList(rest).contains("--help") || Arrays.asList(rest).contains("-h"))) {
            return printHelp(command, io);
        }
        try {
            return command.runner.run(rest, io);
        } catch (WalkException e) {
            io.err.println(NAME + " " + name + ": " + e.getMessage());
            return e.status;
        } catch (IOException e) {
            String why = e.getMessage() == null ? e.toString() : e.getMessage();
            if (!why.contains("Broken pipe")) io.err.println(NAME + " " + name + ": cannot write the output (" + why + ")");
            return UNREADABLE;
        } catch (UnsatisfiedLinkError e) {
            io.err.println(NAME + " " + name + ": cannot load the bridge library: " + e.getMessage());
            return UNREADABLE;
        }
    }

    static String overview() {
        StringBuilder b = new StringBuilder("Usage: zel COMMAND [ARGUMENTS]   (zel help COMMAND for one command)\n\nCommands:\n");
        for (Command c : COMMANDS.values()) b.append(String.format("  %-7s %s%n", c.name, c.summary));
        b.append("\nzel --version prints the versions of the tools and of the native library.\n");
        return b.toString();
    }

    private static int printHelp(Command c, Io io) throws RuntimeException {
        String summary = Character.toUpperCase(c.summary.charAt(0)) + c.summary.substring(1);
        String text = "Usage: " + c.usage + "\n\n" + summary + ".\n\n" + c.help + "\n";
        try {
            write(io, text);
        } catch (IOException e) {
            return 1;
        }
        return 0;
    }

    static void write(Io io, String text) throws IOException {
        Writer w = new Utf8Writer(io.out);
        w.write(text);
        w.flush();
    }

    private static int help(String[] args, Io io) throws WalkException, IOException {
        if (args.length == 1 && args[0].equals("--commands")) {
            write(io, String.join("\n", COMMANDS.keySet()) + "\n");
            return 0;
        }
        // For the completion: the configurations the library definitions lead to.
        if (args.length >= 1 && args[0].equals("--configs")) {
            Walk.Options options = new Walk.Options();
            options.config = "";
            if (args.length == 3 && args[1].equals("--libs")) options.libs = args[2];
            else if (args.length != 1) throw new WalkException(USAGE, "write zel help --configs [--libs FILE]");
            ZelConfig.init(Walk.definitionsFile(options, io.setupPath, io.home).toString());
            StringBuilder b = new StringBuilder();
            for (String name : configurations(LibraryDefinitions.loaded())) b.append(name).append('\n');
            write(io, b.toString());
            return 0;
        }
        if (args.length == 0) {
            write(io, overview());
            return 0;
        }
        Command c = COMMANDS.get(args[0]);
        if (c == null || args.length > 1) {
            throw new WalkException(2, "no command '" + String.join(" ", args) + "'; the commands are "
                                       + String.join(", ", COMMANDS.keySet()));
        }
        if (c.help == null) return c.runner.run(new String[] {"--help"}, io);
        return printHelp(c, io);
    }

    /** LIB/CELL/VIEW of every configuration file in the defined libraries, sorted. */
    static List<String> configurations(LibraryDefinitions libraries) {
        List<String> names = new ArrayList<>();
        for (String lib : libraries.names()) {
            Path dir = libraries.directory(lib);
            try (java.util.stream.Stream<Path> cells = java.nio.file.Files.list(dir)) {
                cells.forEach(cell -> {
                    try (java.util.stream.Stream<Path> views = java.nio.file.Files.list(cell)) {
                        views.filter(v -> java.nio.file.Files.isRegularFile(v.resolve("config.zel")))
                             .forEach(v -> names.add(lib + "/" + cell.getFileName() + "/" + v.getFileName()));
                    } catch (IOException | java.io.UncheckedIOException e) {
                        // not a folder, or unreadable: no configuration to offer
                    }
                });
            } catch (IOException | java.io.UncheckedIOException e) {
                // an unreadable library offers none
            }
        }
        names.sort(null);
        return names;
    }

    private static int version(Io io) {
        String tools = ZelLibrary.version();
        String text;
        try {
            text = "zel " + tools + "\nnative library " + ZelLibrary.nativeVersion() + " (" + ZelLibrary.libraryFile() + ")\n";
        } catch (UnsatisfiedLinkError e) {
            io.err.println(NAME + ": cannot load the native library: " + e.getMessage());
            try {
                write(io, "zel " + tools + "\nnative library: not loaded\n");
            } catch (IOException ignored) {
                // nothing more to tell
            }
            return 1;
        }
        try {
            write(io, text);
        } catch (IOException e) {
            return 1;
        }
        return 0;
    }

    // ---------------------------------------------------------------------------------------
    // walk and diff: the walk tool's command line

    private static final List<String> FORMS = List.of("brief", "full", "json", "jsonl", "summary", "dot");

    private static int walk(String[] args, Io io) throws WalkException {
        List<String> walkArgs = new ArrayList<>();
        String config = null;
        String form = null;
        for (int i = 0; i < args.length; ++i) {
            String a = args[i];
            String bare = a.startsWith("--") ? a.substring(2) : a;
            if (FORMS.contains(bare)) {
                if (form != null && !form.equals(bare)) {
                    throw new WalkException(USAGE, "one FORM at a time: " + form + " or " + bare + "; zel help walk");
                }
                form = bare;
                walkArgs.add("--" + bare);
            } else if (a.equals("--config")) {
                throw new WalkException(USAGE, "give the configuration as a word, LIB/CELL/VIEW, without --config");
            } else if (!a.startsWith("-")) {
                if (config != null) {
                    throw new WalkException(USAGE, "'" + a + "' is no FORM (" + String.join(", ", FORMS)
                                                   + ") and the configuration is " + config + " already; zel help walk");
                }
                if (!a.contains("/")) {
                    throw new WalkException(USAGE, "'" + a + "' is no FORM (" + String.join(", ", FORMS)
                                                   + ") nor a configuration LIB/CELL/VIEW; zel help walk");
                }
                Walk.configName(a, "the configuration");
                config = a;
                walkArgs.add("--config");
                walkArgs.add(a);
            } else {
                walkArgs.add(a);
                if ((a.equals("--depth") || a.equals("--libs")) && i + 1 < args.length) walkArgs.add(args[++i]);
            }
        }
        return Walk.run(walkArgs.toArray(new String[0]), io.out, io.err, io.setupPath, io.home, io.errTerminal,
                        new Walk.Voice(NAME + " walk", "the configuration", "B"));
    }

    private static int diff(String[] args, Io io) throws WalkException {
        List<String> names = new ArrayList<>();
        List<String> rest = new ArrayList<>();
        for (int i = 0; i < args.length; ++i) {
            String a = args[i];
            if (a.equals("--config") || a.equals("--diff")) {
                throw new WalkException(USAGE, "give A and B as words, each LIB/CELL/VIEW; zel help diff");
            }
            if (!a.startsWith("-")) {
                names.add(a);
            } else {
                rest.add(a);
                if ((a.equals("--depth") || a.equals("--libs")) && i + 1 < args.length) rest.add(args[++i]);
            }
        }
        if (names.size() != 2) throw new WalkException(USAGE, "give two configurations, A and B, each LIB/CELL/VIEW");
        Walk.configName(names.get(0), "A");
        Walk.configName(names.get(1), "B");
        rest.addAll(List.of("--config", names.get(0), "--diff", names.get(1)));
        return Walk.run(rest.toArray(new String[0]), io.out, io.err, io.setupPath, io.home, io.errTerminal,
                        new Walk.Voice(NAME + " diff", "A", "B"));
    }

    // ---------------------------------------------------------------------------------------
    // What the commands that read one configuration share

    /** The command line of a command on one configuration: CONFIG, --libs FILE and its own options. */
    static final class Line {
        String config;
        String libs;
        final List<String> words = new ArrayList<>();
        final List<String> flags = new ArrayList<>();
        final Map<String, List<String>> values = new LinkedHashMap<>();
    }

    /**
     * Parses CONFIG (the first word), --libs FILE, the flags in {@code flags} and the options
     * with a value in {@code valued}; the other words in order in {@link Line#words}. A word
     * after "--" is a word even when it starts with '-'.
     */
    static Line parse(String[] args, String command, List<String> flags, List<String> valued) throws WalkException {
        Line line = new Line();
        boolean words = false;
        for (int i = 0; i < args.length; ++i) {
            String a = args[i];
            if (!words && a.equals("--")) {
                words = true;
                continue;
            }
            if (!words && a.startsWith("--") && a.length() > 2) {
                String value = null;
                int eq = a.indexOf('=');
                if (eq > 0) {
                    value = a.substring(eq + 1);
                    a = a.substring(0, eq);
                }
                if (a.equals("--libs") || valued.contains(a)) {
                    if (value == null) {
                        if (i + 1 >= args.length) throw new WalkException(2, a + " needs a value; zel help " + command);
                        value = args[++i];
                    }
                    if (a.equals("--libs")) line.libs = value;
                    else line.values.computeIfAbsent(a, k -> new ArrayList<>()).add(value);
                } else if (flags.contains(a) && value == null) {
                    line.flags.add(a);
                } else {
                    throw new WalkException(2, "unknown option '" + a + "'; zel help " + command);
                }
                continue;
            }
            if (line.config == null) line.config = a;
            else line.words.add(a);
        }
        if (line.config == null) throw new WalkException(2, "give the configuration, LIB/CELL/VIEW; zel help " + command);
        Walk.configName(line.config, "the configuration");
        return line;
    }

    /** An open configuration with its definitions. */
    static final class Opened implements AutoCloseable {
        final CellView name;
        final Path definitionsFile;
        final LibraryDefinitions libraries;
        final ZelConfig config = new ZelConfig();

        Opened(CellView name, Path definitionsFile, LibraryDefinitions libraries) {
            this.name = name;
            this.definitionsFile = definitionsFile;
            this.libraries = libraries;
        }

        /** The configuration's rules as edited so far. */
        ConfigFile file() {
            return ConfigFile.of(config);
        }

        @Override
        public void close() {
            config.close();
        }
    }

    /**
     * Opens the configuration a command line names, in {@code mode}; the library's warnings go
     * to {@code warnings}. When it does not open: {@link #UNREADABLE}.
     */
    static Opened open(Line line, String mode, Io io, ZelWarningListener warnings) throws WalkException {
        int failStatus = UNREADABLE;
        Walk.Options options = new Walk.Options();
        options.config = line.config;
        options.libs = line.libs;
        CellView name = Walk.configName(line.config, "the configuration");
        Path libs;
        try {
            libs = Walk.definitionsFile(options, io.setupPath, io.home);
        } catch (WalkException e) {
            throw new WalkException(failStatus, e.getMessage());
        }
        ZelConfig.init(libs.toString());
        Opened opened = new Opened(name, libs, LibraryDefinitions.loaded());
        if (!opened.config.open(name.lib, name.cell, name.view, mode, warnings)) {
            throw new WalkException(failStatus, "configuration " + name + " does not open (see the warning above); check "
                                                + "its name" + (line.libs != null ? " and --libs FILE" : ""));
        }
        return opened;
    }

    /** A listener that prints the library's warnings on standard error, in zel's words. */
    static ZelWarningListener warnings(Io io, String command) {
        return text -> io.err.println(NAME + " " + command + ": warning: " + inZelWords(text));
    }

    private static final java.util.regex.Pattern LIBRARY_NAME =
        java.util.regex.Pattern.compile("configuration ([^\\s./:]+)\\.([^\\s./:]+):([^\\s./:()]+)");
    private static final java.util.regex.Pattern MODE_ADVICE =
        java.util.regex.Pattern.compile(";? ?open it with mode \"[rwa]\"[^;]*");

    /**
     * A warning of the library as zel says it: configurations named LIB/CELL/VIEW, no advice
     * about open modes, which no command takes.
     */
    public static String inZelWords(String text) {
        String named = LIBRARY_NAME.matcher(text).replaceAll("configuration $1/$2/$3");
        return MODE_ADVICE.matcher(named).replaceAll("");
    }
}
