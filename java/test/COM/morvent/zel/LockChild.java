package COM.morvent.zel;

import COM.morvent.zel.tests.Fixture;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * A program that FreshProcessLocksTest runs in a JVM of its own, in which a bind's warning
 * listener holds its configuration while another thread wants it.
 * <ul>
 * <li>{@code wait}: the listener starts a thread that calls into the bridge on the same
 *     configuration, and waits for it until the parent writes a line to standard input.</li>
 * <li>{@code exit}: a shutdown hook closes the configuration, and the listener calls
 *     {@code System.exit(3)}.</li>
 * </ul>
 */
public final class LockChild {
    private LockChild() {
    }

    public static void main(String[] args) throws Exception {
        ZelConfig config = Fixture.fresh("held");
        if (!config.setTopCellViewName("design", "chip", "schematic")
            || !config.setDefaultViewListString("$(NOPE) schematic")) {
            throw new IllegalStateException("cannot set up the configuration");
        }
        ZelPathVector pv = ZelPathVector.create(config);
        if (!pv.pushCell("design", "chip", "schematic", null)) throw new IllegalStateException("no top cell");
        boolean[] once = {false};
        if (args[0].equals("exit")) {
            Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("hook close " + config.close())));
            pv.bind("CORE", "design", "core", "symbol", true, true, false, text -> System.exit(3));
            throw new IllegalStateException("the listener did not exit");
        }
        CountDownLatch release = new CountDownLatch(1);
        Thread stdin = new Thread(() -> {
            try {
                new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8)).readLine();
            } catch (Exception e) {
                // released all the same
            }
            release.countDown();
        });
        stdin.setDaemon(true);
        stdin.start();
        String[] answer = {"none"};
        Thread other = new Thread(() -> answer[0] = config.getTopCellName(), "zel-other");
        pv.bind("CORE", "design", "core", "symbol", true, true, false, text -> {
            if (once[0]) return;
            once[0] = true;
            other.start();
            try {
                release.await(300, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        other.join();
        System.out.println("other answered " + answer[0]);
        System.out.println("bound " + !pv.isUnbound());
    }
}
