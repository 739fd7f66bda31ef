package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelWarningListener;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Stream;

/**
 * What the tests of one JVM share. The bridge is initialised once per process, so every test
 * class of the run uses one library-definitions file: the example's libraries plus two scratch
 * libraries in a temporary directory, where tests save what they make. Handles are process-wide
 * too: tests compare handles with what they saw, never with fixed numbers.
 */
public final class Fixture {
    /** Scratch libraries, empty at the start of the run. */
    public static final String SCRATCH = "scratch";
    public static final String OTHER = "other";

    private static Path root;
    private static Path definitions;
    private static final AtomicInteger names = new AtomicInteger();
    private static Boolean refusesNested;

    private Fixture() {
    }

    /** The examples directory of the source tree. */
    public static Path examples() {
        String dir = System.getenv("ZEL_EXAMPLES");
        if (dir == null || dir.isEmpty()) fail("ZEL_EXAMPLES is not set; run the tests through ctest");
        return Path.of(dir);
    }

    /** Initialises the bridge for this JVM (once) and gives the definitions file. */
    public static synchronized Path init() {
        if (definitions != null) return definitions;
        try {
            root = Files.createTempDirectory("zel-java-tests");
            Files.createDirectories(root.resolve(SCRATCH));
            Files.createDirectories(root.resolve(OTHER));
            definitions = root.resolve("kwo.lib");
            write(definitions, "INCLUDE \"" + examples().resolve("kwo.lib").toAbsolutePath() + "\"\n"
                               + "DEFINE " + SCRATCH + " " + SCRATCH + "\n"
                               + "DEFINE " + OTHER + " " + OTHER + "\n");
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        Runtime.getRuntime().addShutdownHook(new Thread(() -> deleteTree(root)));
        ZelConfig.init(definitions.toString());
        return definitions;
    }

    /** The directory of the temporary tree (scratch libraries, definitions file). */
    public static Path root() {
        init();
        return root;
    }

    /** A cell name no other test of this run uses. */
    public static String uniqueCell(String prefix) {
        return prefix + "_" + names.incrementAndGet();
    }

    public static void write(Path file, String text) throws IOException {
        Files.createDirectories(file.getParent());
        Files.write(file, text.getBytes(StandardCharsets.UTF_8));
    }

    /** Opens a configuration; fails the test, with the warnings, when it does not open. */
    public static ZelConfig open(String lib, String cell, String view, String mode) {
        init();
        Recorder warnings = new Recorder();
        ZelConfig config = new ZelConfig();
        if (!config.open(lib, cell, view, mode, warnings)) {
            fail("cannot open " + lib + "/" + cell + "/" + view + " (" + mode + "): " + warnings.warnings);
        }
        assertTrue(config.id > 0);
        return config;
    }

    /** A new, empty, editable configuration in the scratch library. */
    public static ZelConfig fresh(String prefix) {
        return open(SCRATCH, uniqueCell(prefix), "config", "w");
    }

    /**
     * Whether a native called from a listener, while the native that warned runs, answers its
     * neutral result. Asked once with a read-only native, which is harmless either way. The
     * bridge's one door brings this refusal and the lock together: tests of either that would
     * crash a bridge without them are skipped until then, unless ZEL_SAFE_BRIDGE=1 says to run
     * them anyway.
     */
    public static synchronized boolean refusesNestedCalls() {
        if ("1".equals(System.getenv("ZEL_SAFE_BRIDGE"))) return true;
        if (refusesNested == null) {
            ZelConfig probe = open("design", "chip", "config", "r");
            String[] seen = {"not called"};
            assertFalse(new ZelConfig().open("design", "chip", "nothing", "r",
                                             (ZelWarningListener) text -> seen[0] = probe.getTopCellName()));
            assertTrue(probe.close());
            assertNotEquals("not called", seen[0]);
            refusesNested = seen[0] == null;
        }
        return refusesNested;
    }

    /** Records the warnings it receives, in order. */
    public static final class Recorder implements ZelWarningListener {
        public final List<String> warnings = new ArrayList<>();

        @Override
        public void processWarning(String warning) {
            warnings.add(warning);
        }
    }

    private static void deleteTree(Path dir) {
        if (dir == null) return;
        try (Stream<Path> paths = Files.walk(dir)) {
            paths.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        } catch (IOException e) {
            // a temporary directory left behind is harmless
        }
    }
}
