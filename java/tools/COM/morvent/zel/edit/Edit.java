package COM.morvent.zel.edit;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.walk.CellView;
import COM.morvent.zel.walk.LibraryDefinitions;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.util.concurrent.CountDownLatch;

/**
 * {@code zel edit}: the hierarchy editor in the browser. Opens a configuration for editing,
 * serves the page on 127.0.0.1 and prints the address to open; runs until interrupted.
 */
public final class Edit {
    static final String NAME = "zel edit";
    /** What every zel command answers when what it needs cannot be read or had. */
    static final int CANNOT = 3;

    static final String HELP = String.join("\n",
        "Usage: zel edit [LIB/CELL/VIEW] [--libs FILE] [--port N]",
        "",
        "Opens the configuration for editing and serves the hierarchy editor on",
        "127.0.0.1; open the address it prints (it carries a secret token: keep it to",
        "yourself). The tree binds a level when it is opened, so a design of any size",
        "opens at once. Edits change the open configuration at once; Save writes it,",
        "refused when another program saved it since (then reload, or save as another",
        "configuration). Several tabs on one address edit one configuration. Stop the",
        "server with Ctrl-C; edits not saved are lost.",
        "",
        "On a compute server, forward the port: ssh -L PORT:127.0.0.1:PORT HOST, then",
        "open the printed address on your own machine.",
        "",
        "  LIB/CELL/VIEW  the configuration (default: design/chip/config, the example)",
        "  --libs FILE    the library-definitions file (default: kwo.lib from",
        "                 $ZEL_SETUP_PATH, the current directory or $HOME; the",
        "                 example's for the example)",
        "  --port N       the port (default: a free one)",
        "",
        "Exit status: 0 when stopped; 2 a wrong command line; 3 the configuration,",
        "definitions or port cannot be had.",
        "");

    private Edit() {
    }

    public static void main(String[] args) {
        System.exit(run(args));
    }

    /** Runs the editor until the process is interrupted; gives the exit status. */
    public static int run(String[] args) {
        return run(args, System.out, System.err, System.getenv("ZEL_SETUP_PATH"), System.getenv("HOME"));
    }

    static int run(String[] args, PrintStream out, PrintStream err, String setupPath, String home) {
        String config = null;
        String libs = null;
        int port = 0;
        for (int i = 0; i < args.length; ++i) {
            String a = args[i];
            switch (a) {
                case "--help":
                case "-h":
                    out.print(HELP);
                    return 0;
                case "--libs":
                    if (++i >= args.length) return usage(err, "--libs needs FILE");
                    libs = args[i];
                    break;
                case "--port":
                    if (++i >= args.length) return usage(err, "--port needs N");
                    try {
                        port = Integer.parseInt(args[i]);
                    } catch (NumberFormatException e) {
                        port = -1;
                    }
                    if (port < 0 || port > 65535) return usage(err, "--port takes a port number, not '" + args[i] + "'");
                    break;
                default:
                    if (a.startsWith("-")) return usage(err, "unknown option '" + a + "'");
                    if (config != null) return usage(err, "one configuration at a time, not also '" + a + "'");
                    config = a;
            }
        }
        CellView name;
        try {
            name = Session.cellView(config != null ? config : "design/chip/config", "the configuration");
        } catch (Session.Refused e) {
            return usage(err, e.getMessage());
        }
        Path defs = definitionsFile(libs, config == null, setupPath, home, err);
        if (defs == null) return CANNOT;
        try {
            ZelConfig.init(defs.toString());
        } catch (UnsatisfiedLinkError e) {
            err.println(NAME + ": cannot load the bridge library: " + e.getMessage());
            return CANNOT;
        }
        Session session;
        try {
            session = new Session(defs, name);
        } catch (Session.Refused e) {
            err.println(NAME + ": " + e.getMessage() + "; check its name" + (libs != null ? " and --libs FILE" : ""));
            return CANNOT;
        }
        Server server;
        try {
            server = new Server(session, port);
        } catch (IOException e) {
            err.println(NAME + ": cannot listen on 127.0.0.1" + (port == 0 ? "" : ":" + port) + " (" + e.getMessage() + ")");
            session.close();
            return CANNOT;
        }
        server.start();
        CountDownLatch stopped = new CountDownLatch(1);
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            server.stop();
            // Nothing can keep the edits once the process is told to end; at least say so.
            if (session.modified()) err.println(NAME + ": stopped with edits not saved; they are lost");
            err.flush();
            stopped.countDown();
        }));
        out.println(NAME + ": editing " + name + " (definitions " + defs + ")");
        out.println(NAME + ": open " + server.address());
        out.println(NAME + ": from another machine: ssh -L " + server.port() + ":127.0.0.1:" + server.port()
                    + " THIS-HOST, then open the same address; Ctrl-C stops the server");
        out.flush();
        try {
            stopped.await();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        return 0;
    }

    private static int usage(PrintStream err, String why) {
        err.println(NAME + ": " + why + "; run 'zel edit --help' for the usage");
        return 2;
    }

    private static Path definitionsFile(String libs, boolean example, String setupPath, String home, PrintStream err) {
        String examples = System.getProperty("zel.examples");
        Path file = null;
        if (libs != null) {
            try {
                file = Path.of(libs);
            } catch (InvalidPathException e) {
                file = null;
            }
            if (file == null || !Files.isRegularFile(file)) {
                err.println(NAME + ": library definitions file '" + libs + "' not found; give an existing file with --libs FILE");
                return null;
            }
            return file;
        }
        if (example && examples != null && !examples.isEmpty()) return Path.of(examples, LibraryDefinitions.SETUP_FILE);
        file = LibraryDefinitions.searchSetupFile(setupPath, home);
        if (file == null && examples != null && !examples.isEmpty()) file = Path.of(examples, LibraryDefinitions.SETUP_FILE);
        if (file == null) {
            err.println(NAME + ": no library definitions file: none given and no " + LibraryDefinitions.SETUP_FILE
                        + " in $ZEL_SETUP_PATH, the current directory or $HOME; give one with --libs FILE");
        }
        return file;
    }
}
