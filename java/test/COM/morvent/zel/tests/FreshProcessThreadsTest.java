package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.walk.CellView;
import COM.morvent.zel.walk.Design;
import COM.morvent.zel.walk.LibraryDefinitions;
import COM.morvent.zel.walk.Progress;
import COM.morvent.zel.walk.TreePrinter;
import COM.morvent.zel.walk.WalkHeader;
import COM.morvent.zel.walk.Walker;
import java.io.StringWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Java threads using the bridge at once. The mix: three threads each walking a configuration of
 * their own, three walking one shared configuration (each with its own path vector), and an
 * editor editing and saving a copy of an example configuration. Every walk must answer exactly
 * as the lone walk of its configuration did (bindings, lists, stops and warnings of each
 * instance), every bind's listener hears its own warnings, and every save must read back. The mix runs once with its roles taking turns on one
 * thread, then with a thread each. In a process of its own: a bridge that is not safe under
 * threads brings the JVM down.
 */
class FreshProcessThreadsTest {
    private static final String[] VIEWS = {"config", "sim_config", "alt_config"};
    // Rounds per thread. A round takes milliseconds, ten times that under the sanitizers on a
    // loaded machine: this keeps the threads overlapping for seconds, and the test within a
    // minute there.
    private static final int ROUNDS = 30;

    private static LibraryDefinitions libraries;
    private static final Map<String, String> lone = new HashMap<>();

    /** One round of one role; throws on any wrong answer. */
    private interface Round {
        void run(int round) throws Exception;
    }

    @BeforeAll
    static void loneWalks() throws Exception {
        Fixture.init();
        libraries = LibraryDefinitions.loaded();
        for (String view : VIEWS) {
            ZelConfig config = Fixture.open("design", "chip", view, "r");
            lone.put(view, walk(config));
            assertTrue(config.close());
        }
        assertTrue(lone.get("config").contains("FA0: design/fulladder/symbol"), lone.get("config"));
        assertNotEquals(lone.get("config"), lone.get("alt_config"));
    }

    /** The printed walk of an open configuration, and the warnings it heard. */
    static String walk(ZelConfig config) throws Exception {
        Fixture.Recorder warnings = new Fixture.Recorder();
        WalkHeader header = new WalkHeader(new CellView(config.getLibName(), config.getCellName(), config.getViewName()),
                                           config.getRevision(), config.getNoteString(),
                                           config.getDefaultLibListString(), config.getDefaultViewListString());
        StringWriter text = new StringWriter();
        Design design = new Design(libraries, warnings, 1_000);
        new Walker(config, design, warnings, Integer.MAX_VALUE, new Progress(System.err, false, false), true)
            .walk(new TreePrinter(text, header, false));
        return text + "warnings: " + warnings.warnings;
    }

    /** A bind that warns twice: its listener hears those two, from this thread's call alone. */
    static void bindThatWarns(String what) {
        ZelConfig config = Fixture.fresh("warns");
        assertTrue(config.setTopCellViewName("design", "chip", "schematic"));
        assertTrue(config.setDefaultViewListString("$(NOPE) schematic"));
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        Fixture.Recorder warnings = new Fixture.Recorder();
        pv.bind("CORE", "design", "core", "symbol", true, true, false, warnings);
        assertEquals(2, warnings.warnings.size(), what + ": " + warnings.warnings);
        assertTrue(warnings.warnings.get(0).startsWith("unknown constant 'NOPE'"), what + ": " + warnings.warnings);
        assertTrue(pv.isUnbound(), what);
        pv.destroy();
        assertTrue(config.close());
    }

    /** The roles of the mix, set up over `shared`. */
    static List<Round> roles(ZelConfig shared) throws Exception {
        List<Round> roles = new ArrayList<>();
        for (String view : VIEWS) {
            roles.add(round -> {
                ZelConfig own = Fixture.open("design", "chip", view, "r");
                assertEquals(lone.get(view), walk(own), "own " + view + ", round " + round);
                assertTrue(own.close());
                bindThatWarns("own " + view + ", round " + round);
            });
            roles.add(round -> {
                assertEquals(lone.get("config"), walk(shared), "shared, round " + round);
                bindThatWarns("shared, round " + round);
            });
        }
        String cell = Fixture.uniqueCell("edited");
        Path copy = Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config").resolve("config.zel");
        Files.createDirectories(copy.getParent());
        Files.copy(Fixture.examples().resolve("libs/design/chip/config/config.zel"), copy);
        roles.add(round -> {
            ZelConfig edited = Fixture.open(Fixture.SCRATCH, cell, "config", "a");
            String stop = round % 2 == 0 ? "symbol" : "layout";
            assertTrue(edited.setDefaultStopListString(stop));
            assertTrue(edited.replaceConstant("ROUND", Integer.toString(round)));
            assertTrue(edited.addNoteLine("round " + round));
            Fixture.Recorder warnings = new Fixture.Recorder();
            assertTrue(edited.save(warnings), warnings.warnings.toString());
            assertEquals(List.of(), warnings.warnings);
            assertTrue(edited.close());
            ZelConfig back = Fixture.open(Fixture.SCRATCH, cell, "config", "r");
            assertEquals(stop, back.getDefaultStopListString());
            assertEquals(Integer.toString(round), back.evalConstants("$(ROUND)"));
            assertTrue(back.getNoteString().endsWith("round " + round), back.getNoteString());
            assertTrue(back.close());
        });
        return roles;
    }

    @Test
    void rolesTakingTurnsOnOneThread() throws Exception {
        ZelConfig shared = Fixture.open("design", "chip", "config", "r");
        List<Round> roles = roles(shared);
        for (int round = 0; round < ROUNDS / 4; ++round)
            for (Round role : roles) role.run(round);
        assertTrue(shared.close());
    }

    @Test
    void aThreadForEachRole() throws Exception {
        ZelConfig shared = Fixture.open("design", "chip", "config", "r");
        List<Round> roles = roles(shared);
        Queue<String> failures = new ConcurrentLinkedQueue<>();
        CyclicBarrier start = new CyclicBarrier(roles.size());
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < roles.size(); ++i) {
            Round role = roles.get(i);
            Thread thread = new Thread(() -> {
                try {
                    start.await();
                    for (int round = 0; round < ROUNDS; ++round) role.run(round);
                } catch (Throwable e) {
                    failures.add(Thread.currentThread().getName() + ": " + e);
                }
            }, "role-" + i);
            threads.add(thread);
            thread.start();
        }
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(300);
        for (Thread thread : threads) {
            thread.join(Math.max(1, TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime())));
            if (thread.isAlive()) fail(thread.getName() + " still runs after 300 s: a deadlock? " + failures);
        }
        assertEquals(List.of(), new ArrayList<>(failures));
        // Still one configuration, answering as before.
        assertEquals(lone.get("config"), walk(shared));
        assertTrue(shared.close());
        assertFalse(shared.close());
    }
}
