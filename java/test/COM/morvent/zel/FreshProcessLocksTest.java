package COM.morvent.zel;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import COM.morvent.zel.tests.Fixture;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * The configuration locks from Java: a listener that waits for another thread's call on its
 * configuration is named on standard error; a JVM asked to exit from such a listener exits;
 * the Cleaner releases a hundred thousand dropped path vectors. A JVM of its own: the count of
 * releases must be this test's alone.
 */
class FreshProcessLocksTest {
    private static final int DROPPED = 100_000;

    private static void dropPathVectors(ZelConfig config, int[] range) {
        for (int i = 0; i < DROPPED; ++i) {
            ZelPathVector pv = ZelPathVector.create(config);
            if (i == 0) range[0] = pv.pathvector;
            range[1] = pv.pathvector;
        }
    }

    @Test
    void theCleanerReleasesAHundredThousandDroppedPathVectors() throws InterruptedException {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        int before = ZelCleanup.released.get();
        int[] range = new int[2];
        dropPathVectors(config, range);
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(300);
        while (ZelCleanup.released.get() - before < DROPPED && System.nanoTime() < deadline) {
            System.gc();
            Thread.sleep(50);
        }
        assertEquals(DROPPED, ZelCleanup.released.get() - before);
        for (int handle : range) assertNull(new ZelPathVector(handle).getContextLibName(), "destroyed: " + handle);
        assertTrue(config.close());
    }

    /** The child's output, exit code and standard error, `onError` told of each error line. */
    private static final class Child {
        final List<String> out = new ArrayList<>();
        final List<String> err = new ArrayList<>();
        int exit;
    }

    private static Child run(String mode, java.util.function.BiConsumer<String, Writer> onError) throws Exception {
        Path launcher = Path.of(System.getProperty("java.home"), "bin", "java");
        List<String> jars = new ArrayList<>();
        for (Class<?> c : new Class<?>[] {ZelConfig.class, LockChild.class, org.junit.jupiter.api.Assertions.class})
            jars.add(Path.of(c.getProtectionDomain().getCodeSource().getLocation().toURI()).toString());
        String classPath = String.join(java.io.File.pathSeparator, jars);
        Process process = new ProcessBuilder(launcher.toString(), "-Xcheck:jni",
                                             "-Djava.library.path=" + System.getProperty("java.library.path"),
                                             "-cp", classPath, LockChild.class.getName(), mode).start();
        Child child = new Child();
        Writer in = new OutputStreamWriter(process.getOutputStream(), StandardCharsets.UTF_8);
        Thread errors = new Thread(() -> {
            try (BufferedReader r = new BufferedReader(new InputStreamReader(process.getErrorStream(),
                                                                             StandardCharsets.UTF_8))) {
                for (String line; (line = r.readLine()) != null;) {
                    synchronized (child) {
                        child.err.add(line);
                    }
                    onError.accept(line, in);
                }
            } catch (Exception e) {
                synchronized (child) {
                    child.err.add("reading failed: " + e);
                }
            }
        });
        errors.start();
        try (BufferedReader r = new BufferedReader(new InputStreamReader(process.getInputStream(),
                                                                         StandardCharsets.UTF_8))) {
            for (String line; (line = r.readLine()) != null;) child.out.add(line);
        }
        if (!process.waitFor(300, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            fail(mode + ": the child still runs after 300 s; stderr " + child.err);
        }
        errors.join();
        child.exit = process.exitValue();
        return child;
    }

    @Test
    void aListenerThatWaitsForAnotherThreadsCallIsNamed() throws Exception {
        Child child = run("wait", (line, in) -> {
            if (!line.contains("has waited")) return;
            try {
                in.write("release\n");
                in.flush();
            } catch (Exception e) {
                throw new IllegalStateException(e);
            }
        });
        String told = String.join("\n", child.err);
        assertEquals(0, child.exit, told);
        assertTrue(told.contains("thread 'zel-other'"), told);
        assertTrue(told.contains("holds while it runs a warning listener"), told);
        assertTrue(told.contains("docs/library.md"), told);
        assertEquals(1, told.split("has waited", -1).length - 1, "one message: " + told);
        // Once the listener returned, the other thread's call went on and answered.
        assertEquals(List.of("other answered chip", "bound false"), child.out, told);
    }

    @Test
    void aJvmAskedToExitFromAListenerThatHoldsAConfigurationExits() throws Exception {
        Child child = run("exit", (line, in) -> { });
        String told = String.join("\n", child.err);
        assertEquals(3, child.exit, told);
        assertTrue(told.contains("the JVM is exiting"), told);
        assertEquals(List.of("hook close false"), child.out, told);
    }
}
