package COM.morvent.zel.bench;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.function.IntFunction;
import java.util.function.LongSupplier;

/**
 * Nanoseconds per call of the bridge's natives, each next to its floor: the JNI calls that a
 * native of its kind cannot avoid, measured in the bench's own library {@code zelbenchfloor}.
 * Then how the cost grows with the number of live configurations and path vectors.
 *
 * <p>Each figure is the median of several timed runs after a warm-up; a run repeats one call
 * in a loop for a fixed time. Usage:
 * {@code NativesBench --examples DIR [--runs N] [--run-ms MS] [--contention-only]} where DIR holds
 * the example design's {@code kwo.lib}; {@code --contention-only} prints the two-thread table alone.
 */
public final class NativesBench {
    private static int runs = 7;
    private static long runNanos = 40_000_000L;
    /** Results go here so that no call's answer is unused. */
    static long sink;

    /** One measured call, repeated {@code n} times by {@link #run}. */
    abstract static class Row {
        final String name;

        Row(String name) {
            this.name = name;
        }

        abstract void run(int n);
    }

    private NativesBench() {
    }

    static synchronized void addToSink(long s) {
        sink += s;
    }

    static long bit(boolean b) {
        return b ? 1 : 0;
    }

    static long bit(String s) {
        return s != null ? s.length() : 0;
    }

    private static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

    /**
     * Time of this thread: CPU time where the JVM offers it, so that time the thread spends
     * descheduled on a busy machine does not count; the wall clock otherwise.
     */
    static long now() {
        return THREADS.isCurrentThreadCpuTimeSupported() ? THREADS.getCurrentThreadCpuTime() : System.nanoTime();
    }

    /** Nanoseconds of one run of {@code n} calls. */
    static long time(Row row, int n) {
        long t0 = now();
        row.run(n);
        return now() - t0;
    }

    /** Calls per timed run: the run grows until it lasts long enough; that is the warm-up too. */
    static int calibrate(Row row) {
        int n = 64;
        long spent;
        long warm = 0;
        while (true) {
            spent = time(row, n);
            warm += spent;
            if (spent >= runNanos / 4 && warm >= runNanos * 3) break;
            if (spent < runNanos / 4 && n < (1 << 28)) n *= 2;
        }
        return (int) Math.max(16, Math.min(1L << 29, (long) n * runNanos / Math.max(1, spent)));
    }

    static double median(double[] values) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }

    /** Median nanoseconds per call of the row's call over {@link #runs} runs, after a warm-up. */
    static double measure(Row row) {
        int n = calibrate(row);
        double[] perCall = new double[runs];
        for (int r = 0; r < runs; ++r) perCall[r] = (double) time(row, n) / n;
        return median(perCall);
    }

    /**
     * A native and its floor, timed in alternate runs so that both see the same load: the
     * medians of each and the median of the per-run ratios.
     */
    static Line measure(String name, Row row, Row floor) {
        int n = calibrate(row);
        int nf = calibrate(floor);
        double[] ns = new double[runs];
        double[] fl = new double[runs];
        double[] ratio = new double[runs];
        for (int r = 0; r < runs; ++r) {
            fl[r] = (double) time(floor, nf) / nf;
            ns[r] = (double) time(row, n) / n;
            ratio[r] = ns[r] / fl[r];
        }
        return new Line(name, median(ns), median(fl), median(ratio));
    }

    static final class Line {
        final String name;
        final double ns;
        final double floor;
        final double ratio;

        Line(String name, double ns, double floor, double ratio) {
            this.name = name;
            this.ns = ns;
            this.floor = floor;
            this.ratio = ratio;
        }
    }

    // ---- the example setting ------------------------------------------------------------

    static final ZelWarningListener LISTENER = w -> sink += w.length();

    /** A configuration of the example design and a path vector standing as a walk would. */
    static final class Walked {
        final ZelConfig config;
        final ZelPathVector pv;

        final boolean owned;

        /** Opens design/chip/config and walks CORE/ALU0/ADD/FA1 down, binding as it goes. */
        Walked(boolean deep) {
            this(null, deep);
        }

        /** The same walk on a second path vector over {@code shared}'s configuration. */
        Walked(Walked shared, boolean deep) {
            config = shared != null ? shared.config : new ZelConfig();
            owned = shared == null;
            if (owned && !config.open("design", "chip", "config", "a", LISTENER)) {
                throw new IllegalStateException("cannot open design/chip/config");
            }
            pv = ZelPathVector.create(config);
            if (!pv.pushCell(config.getTopLibName(), config.getTopCellName(), config.getTopViewName(), null)) {
                throw new IllegalStateException("top cell refused");
            }
            pv.isAnyInstRules();
            String[][] path = deep
                ? new String[][] {{"CORE", "design", "core", "symbol"}, {"ALU0", "design", "alu", "symbol"},
                                  {"ADD", "design", "adder", "symbol"}, {"FA1", "design", "fulladder", "symbol"}}
                : new String[][] {{"CORE", "design", "core", "symbol"}};
            for (String[] inst : path) {
                pv.bind(inst[0], inst[1], inst[2], inst[3], true, true, false, LISTENER);
                if (!pv.pushCell(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding(),
                                 inst[0])) {
                    throw new IllegalStateException("cannot descend into " + inst[0]);
                }
                pv.isAnyInstRules();
            }
        }

        void close() {
            pv.destroy();
            if (owned) config.close();
        }
    }

    // ---- the tables ---------------------------------------------------------------------

    static void printTable(String title, String[] heads, List<String[]> rows) {
        int[] width = new int[heads.length];
        for (int i = 0; i < heads.length; ++i) width[i] = heads[i].length();
        for (String[] r : rows)
            for (int i = 0; i < r.length; ++i) width[i] = Math.max(width[i], r[i].length());
        System.out.println();
        System.out.println(title);
        StringBuilder sep = new StringBuilder();
        for (int i = 0; i < heads.length; ++i) {
            if (i > 0) sep.append("-+-");
            sep.append("-".repeat(width[i]));
        }
        printRow(heads, width);
        System.out.println(sep);
        for (String[] r : rows) printRow(r, width);
        System.out.flush();
    }

    static void printRow(String[] cells, int[] width) {
        StringBuilder line = new StringBuilder();
        for (int i = 0; i < cells.length; ++i) {
            if (i > 0) line.append(" | ");
            String f = i == 0 ? "%-" + width[i] + "s" : "%" + width[i] + "s";
            line.append(String.format(Locale.ROOT, f, cells[i]));
        }
        System.out.println(line.toString().stripTrailing());
    }

    static String ns(double v) {
        return String.format(Locale.ROOT, v >= 1000 ? "%.0f" : "%.1f", v);
    }

    static String ratio(double v) {
        return String.format(Locale.ROOT, "%.2f", v);
    }

    public static void main(String[] args) throws Exception {
        Path examples = null;
        boolean contentionOnly = false;
        for (int i = 0; i < args.length; ++i) {
            switch (args[i]) {
                case "--examples": examples = Path.of(args[++i]); break;
                case "--runs": runs = Integer.parseInt(args[++i]); break;
                case "--run-ms": runNanos = Long.parseLong(args[++i]) * 1_000_000L; break;
                case "--contention-only": contentionOnly = true; break;
                default:
                    System.err.println("usage: NativesBench --examples DIR [--runs N] [--run-ms MS] [--contention-only]");
                    System.exit(2);
            }
        }
        if (examples == null || !Files.isRegularFile(examples.resolve("kwo.lib"))) {
            System.err.println("NativesBench: --examples DIR must hold kwo.lib");
            System.exit(2);
        }
        System.out.printf(Locale.ROOT, "JVM %s %s, %d processors; median of %d runs of %d ms each%n",
                          System.getProperty("java.vm.name"), System.getProperty("java.vm.version"),
                          Runtime.getRuntime().availableProcessors(), runs, runNanos / 1_000_000L);

        ZelConfig.init(examples.resolve("kwo.lib").toString());
        if (contentionOnly) {
            contention();
            return;
        }
        Walked w = new Walked(true);
        floorAndBridge(w);
        w.close();
        contention();
        scaling();
        cleanerDrain();
    }

    // ---- floor and bridge ---------------------------------------------------------------

    static void floorAndBridge(Walked w) {
        final ZelConfig fc = w.config;
        final ZelPathVector fpv = w.pv;

        double empty = measure(new Row("empty") {
            void run(int n) { for (int i = 0; i < n; ++i) FloorConfig.empty(fc); }
        });
        double handle = measure(new Row("handle") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += FloorConfig.handle(fc); sink += s; }
        });
        double result = measure(new Row("result") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(FloorConfig.stringResult(fc)); sink += s; }
        });
        double one = measure(new Row("one") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += FloorConfig.oneString(fc, "design"); sink += s; }
        });
        double three = measure(new Row("three") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) s += FloorConfig.threeStrings(fc, "design", "chip", "schematic");
                sink += s;
            }
        });
        double listener = measure(new Row("listener") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += FloorConfig.listener(fc, LISTENER); sink += s; }
        });
        List<String[]> bare = new ArrayList<>();
        bare.add(new String[] {"empty native", ns(empty), "-"});
        bare.add(new String[] {"handle-field read (GetObjectClass, GetFieldID, GetIntField)", ns(handle),
                               ns(handle - empty)});
        bare.add(new String[] {"String result (NewStringUTF, 8 chars)", ns(result), ns(result - empty)});
        bare.add(new String[] {"one String argument (Get/ReleaseStringUTFChars)", ns(one), ns(one - empty)});
        bare.add(new String[] {"three String arguments", ns(three), ns(three - empty)});
        bare.add(new String[] {"listener method look-up (GetObjectClass, GetMethodID)", ns(listener),
                               ns(listener - empty)});
        printTable("Bare JNI operations (zelbenchfloor), ns per call",
                   new String[] {"operation", "ns/call", "above empty"}, bare);

        // The floors of the kinds of native, measured whole.
        final Row getterFloorRow = new Row("getter floor") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(FloorConfig.getter(fc, 8)); sink += s; }
        };
        double getterFloor = measure(getterFloorRow);
        final Row setterFloorRow = new Row("setter floor") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) {
                    s += bit(FloorConfig.setter3(fc, "design", "chip", (i & 1) == 0 ? "symbol" : "schematic"));
                }
                sink += s;
            }
        };
        double setterFloor = measure(setterFloorRow);
        final Row queryFloorRow = new Row("query floor") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(FloorPathVector.query(fpv)); sink += s; }
        };
        double queryFloor = measure(queryFloorRow);
        final Row stringQueryFloorRow = new Row("string query floor") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(FloorPathVector.stringQuery(fpv, 8)); sink += s; }
        };
        double stringQueryFloor = measure(stringQueryFloorRow);
        final Row pushPopFloorRow = new Row("push/pop floor") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) {
                    s += bit(FloorPathVector.push(fpv, "stdcells", "nand2", "symbol", "G1"));
                    s += bit(FloorPathVector.query(fpv));
                }
                sink += s;
            }
        };
        double pushPopFloor = measure(pushPopFloorRow);
        final Row sameFloorRow = new Row("same floor") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) s += bit(FloorPathVector.sameInstRules(fpv, "G1", false, null, false, null, false, null, false));
                sink += s;
            }
        };
        double sameFloor = measure(sameFloorRow);
        final Row bindFloorRow = new Row("bind floor") {
            void run(int n) {
                for (int i = 0; i < n; ++i) FloorPathVector.bind(fpv, "G0", "stdcells", "nand2", "symbol", true, true, false, LISTENER);
            }
        };
        double bindFloor = measure(bindFloorRow);
        List<String[]> floors = new ArrayList<>();
        floors.add(new String[] {"getter: handle + String result (8 chars)", ns(getterFloor), ns(handle + result - empty)});
        floors.add(new String[] {"setter: handle + 3 Strings", ns(setterFloor), ns(handle + three - empty)});
        floors.add(new String[] {"query: handle", ns(queryFloor), ns(handle)});
        floors.add(new String[] {"String query: handle + String result (8 chars)", ns(stringQueryFloor),
                                 ns(handle + result - empty)});
        floors.add(new String[] {"push + pop: handle + 4 Strings, handle", ns(pushPopFloor),
                                 ns(2 * handle + 4 * (one - empty))});
        floors.add(new String[] {"isSameInstRules: handle + 4 Strings (1 null)", ns(sameFloor),
                                 ns(handle + (one - empty))});
        floors.add(new String[] {"bind: handle + listener + 4 Strings", ns(bindFloor),
                                 ns(handle + listener - empty + 4 * (one - empty))});
        printTable("Floors of the kinds of native, measured whole, ns per call",
                   new String[] {"kind", "ns/call", "sum of parts"}, floors);

        // The bridge, standing as a walk does in the example design: at FA1 of ALU0's adder.
        final ZelConfig config = w.config;
        final ZelPathVector pv = w.pv;
        final String topLib = config.getTopLibName();
        final String topCell = config.getTopCellName();
        final String topView = config.getTopViewName();
        List<Line> lines = new ArrayList<>();
        lines.add(measure("ZelConfig.getTopLibName", new Row("getTopLibName") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(config.getTopLibName()); sink += s; }
        }, getterFloor(fc, config.getTopLibName())));
        lines.add(measure("ZelConfig.setTopCellViewName (3 Strings)", new Row("setTopCellViewName") {
            void run(int n) {
                long s = 0;
                // A new value each time, as an edit would bring.
                for (int i = 0; i < n; ++i) {
                    s += bit(config.setTopCellViewName(topLib, topCell, (i & 1) == 0 ? "symbol" : topView));
                }
                config.setTopCellViewName(topLib, topCell, topView);
                sink += s;
            }
        }, setterFloorRow));
        // As a walk pushes: right after binding the instance it descends into.
        pv.bind("G1", "stdcells", "nand2", "symbol", true, true, false, LISTENER);
        lines.add(measure("pushCell + popCell", new Row("pushCell/popCell") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) {
                    s += bit(pv.pushCell("stdcells", "nand2", "symbol", "G1"));
                    s += bit(pv.popCell());
                }
                sink += s;
            }
        }, pushPopFloorRow));
        pv.isAnyInstRules();
        lines.add(measure("bind (G0: occurrence rule)", new Row("bind G0") {
            void run(int n) {
                for (int i = 0; i < n; ++i) pv.bind("G0", "stdcells", "nand2", "symbol", true, true, false, LISTENER);
            }
        }, bindFloorRow));
        lines.add(measure("bind (G1: library rule)", new Row("bind G1") {
            void run(int n) {
                for (int i = 0; i < n; ++i) pv.bind("G1", "stdcells", "nand2", "symbol", true, true, false, LISTENER);
            }
        }, bindFloorRow));
        pv.bind("G0", "stdcells", "nand2", "symbol", true, true, false, LISTENER);
        lines.add(measure("getCurrentLibBinding", new Row("getCurrentLibBinding") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.getCurrentLibBinding()); sink += s; }
        }, stringFloor(fpv, pv.getCurrentLibBinding())));
        lines.add(measure("getCurrentLibList", new Row("getCurrentLibList") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.getCurrentLibList()); sink += s; }
        }, stringFloor(fpv, pv.getCurrentLibList())));
        lines.add(measure("getCurrentViewList", new Row("getCurrentViewList") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.getCurrentViewList()); sink += s; }
        }, stringFloor(fpv, pv.getCurrentViewList())));
        lines.add(measure("getLibListBindWhy", new Row("getLibListBindWhy") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += pv.getLibListBindWhy(); sink += s; }
        }, queryFloorRow));
        lines.add(measure("isInstViewBindingUsed", new Row("isInstViewBindingUsed") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.isInstViewBindingUsed()); sink += s; }
        }, queryFloorRow));
        lines.add(measure("isUnbound", new Row("isUnbound") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.isUnbound()); sink += s; }
        }, queryFloorRow));
        lines.add(measure("isAnyInstRules", new Row("isAnyInstRules") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.isAnyInstRules()); sink += s; }
        }, queryFloorRow));
        lines.add(measure("isSameInstRules (G1)", new Row("isSameInstRules") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) s += bit(pv.isSameInstRules("G1", false, null, false, null, false, null, false));
                sink += s;
            }
        }, sameFloorRow));
        lines.add(measure("isAtStop", new Row("isAtStop") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.isAtStop()); sink += s; }
        }, queryFloorRow));
        lines.add(measure("getStopWhy", new Row("getStopWhy") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += pv.getStopWhy(); sink += s; }
        }, queryFloorRow));

        List<String[]> rows = new ArrayList<>();
        for (Line l : lines) rows.add(new String[] {l.name, ns(l.ns), ns(l.floor), ratio(l.ratio)});
        printTable("Natives of the bridge (one configuration, one path vector at depth 4), ns per call;\n"
                   + "a String answer's floor copies a String of the answer's length",
                   new String[] {"native", "ns/call", "floor ns", "ratio"}, rows);
    }

    // ---- contention ---------------------------------------------------------------------

    /**
     * Nanoseconds of wall time per call when {@code threads} threads each repeat {@code call}
     * {@code n} times at once: the median of {@link #runs} runs. Each thread sums the answers in
     * a local and adds them to {@link #sink} once at its end: a shared field written on every
     * call would make the threads take turns at its cache line, which is not what is measured.
     */
    static double wallPerCall(int threads, int n, IntFunction<LongSupplier> call)
            throws InterruptedException {
        double[] perCall = new double[runs];
        for (int r = 0; r < runs; ++r) {
            java.util.concurrent.CyclicBarrier start = new java.util.concurrent.CyclicBarrier(threads + 1);
            Thread[] running = new Thread[threads];
            for (int t = 0; t < threads; ++t) {
                final LongSupplier body = call.apply(t);
                running[t] = new Thread(() -> {
                    try {
                        start.await();
                    } catch (Exception e) {
                        throw new IllegalStateException(e);
                    }
                    long s = 0;
                    for (int i = 0; i < n; ++i) s += body.getAsLong();
                    addToSink(s);
                });
                running[t].start();
            }
            try {
                start.await();
            } catch (java.util.concurrent.BrokenBarrierException e) {
                throw new IllegalStateException(e);
            }
            long t0 = System.nanoTime();
            for (Thread t : running) t.join();
            perCall[r] = (double) (System.nanoTime() - t0) / n;
        }
        return median(perCall);
    }

    /**
     * The bridge lock under contention: one and two threads calling at once, each on its own
     * configuration (or path vector), against the floor's natives, which take no lock. With two
     * threads a lock-free native keeps its time per call; the bridge's natives take turns.
     */
    static void contention() throws InterruptedException {
        Walked[] walked = {measured(), measured()};
        Walked[] shared = {walked[0], new Walked(walked[0], false)};
        final int n = 2_000_000;
        List<String[]> rows = new ArrayList<>();
        String[][] names = {{"getTopLibName", "getter floor"}, {"isInstViewBindingUsed", "query floor"}};
        for (int kind = 0; kind < names.length; ++kind) {
            final int k = kind;
            IntFunction<LongSupplier> bridge = t -> k == 0
                ? () -> bit(walked[t].config.getTopLibName())
                : () -> bit(walked[t].pv.isInstViewBindingUsed());
            IntFunction<LongSupplier> oneConfig = t -> k == 0
                ? () -> bit(shared[t].config.getTopLibName())
                : () -> bit(shared[t].pv.isInstViewBindingUsed());
            IntFunction<LongSupplier> floor = t -> k == 0
                ? () -> bit(FloorConfig.getter(walked[t].config, 6))
                : () -> bit(FloorPathVector.query(walked[t].pv));
            double one = wallPerCall(1, n, bridge);
            double two = wallPerCall(2, n, bridge);
            double twoShared = wallPerCall(2, n, oneConfig);
            double floorOne = wallPerCall(1, n, floor);
            double floorTwo = wallPerCall(2, n, floor);
            rows.add(new String[] {names[k][0], ns(one), ns(two), ratio(two / one), ns(twoShared), ns(floorOne),
                                   ns(floorTwo)});
        }
        printTable("Two threads at once: wall ns per call of each thread, each thread on its own configuration\n"
                   + "and path vector (own), or both on one configuration, each with its own path vector (shared;\n"
                   + "they take turns at its lock); the floors take no lock",
                   new String[] {"native", "1 thread", "2 own", "2 own / 1", "2 shared", "floor 1 thread",
                                 "floor 2 threads"}, rows);
        shared[1].close();
        walked[0].close();
        walked[1].close();
        System.out.println();
    }

    /**
     * How long the jar's cleanup thread takes to release 100,000 path vectors that the program
     * dropped without destroying them: from the first collection after they became unreachable
     * until the last is released.
     */
    static void cleanerDrain() throws Exception {
        final int dropped = 100_000;
        java.lang.reflect.Field counter =
            Class.forName("COM.morvent.zel.ZelCleanup").getDeclaredField("released");
        counter.setAccessible(true);
        java.util.concurrent.atomic.AtomicInteger released =
            (java.util.concurrent.atomic.AtomicInteger) counter.get(null);
        Walked w = measured();
        // What earlier tables dropped is released first, so that the count is of these alone.
        int before;
        do {
            before = released.get();
            System.gc();
            Thread.sleep(200);
        } while (released.get() != before);
        dropPathVectors(w.config, dropped);
        long t0 = System.nanoTime();
        System.gc();
        long deadline = t0 + 600_000_000_000L;
        while (released.get() - before < dropped && System.nanoTime() < deadline) Thread.sleep(1);
        double ms = (System.nanoTime() - t0) / 1e6;
        w.close();
        System.out.printf(Locale.ROOT, "Cleanup: %,d dropped path vectors released in %.0f ms (%d of them)%n",
                          dropped, ms, released.get() - before);
    }

    /** Path vectors made and dropped in a frame of their own. */
    static void dropPathVectors(ZelConfig config, int count) {
        for (int i = 0; i < count; ++i) {
            ZelPathVector pv = ZelPathVector.create(config);
            if (pv.pathvector == 0) throw new IllegalStateException("no path vector");
        }
    }

    // ---- scaling ------------------------------------------------------------------------

    /** A measured configuration and path vector, bound once at the top level. */
    static Walked measured() {
        return new Walked(false);
    }

    /** The floor of a configuration getter whose answer is {@code answer}. */
    static Row getterFloor(ZelConfig config, String answer) {
        final int length = answer != null ? answer.length() : 0;
        return new Row("getter floor") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) s += bit(FloorConfig.getter(config, length));
                sink += s;
            }
        };
    }

    /** The floor of a path-vector query whose answer is {@code answer}. */
    static Row stringFloor(ZelPathVector pv, String answer) {
        final int length = answer != null ? answer.length() : 0;
        return new Row("string query floor") {
            void run(int n) {
                long s = 0;
                for (int i = 0; i < n; ++i) s += bit(FloorPathVector.stringQuery(pv, length));
                sink += s;
            }
        };
    }

    /** getTopLibName on {@code config}, against its floor: "ns (ratio)". */
    static String getterCost(ZelConfig config) {
        Line l = measure("getTopLibName", new Row("getTopLibName") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(config.getTopLibName()); sink += s; }
        }, getterFloor(config, config.getTopLibName()));
        return ns(l.ns) + " (" + ratio(l.ratio) + ")";
    }

    /** isInstViewBindingUsed on {@code pv}, against its floor: "ns (ratio)". */
    static String queryCost(ZelPathVector pv) {
        Line l = measure("isInstViewBindingUsed", new Row("isInstViewBindingUsed") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(pv.isInstViewBindingUsed()); sink += s; }
        }, new Row("query floor") {
            void run(int n) { long s = 0; for (int i = 0; i < n; ++i) s += bit(FloorPathVector.query(pv)); sink += s; }
        });
        return ns(l.ns) + " (" + ratio(l.ratio) + ")";
    }

    static void scaling() {
        // The oldest handles lie last in their registry's list, the newest first.
        Walked oldest = measured();
        List<ZelConfig> fillerConfigs = new ArrayList<>();
        List<ZelPathVector> fillerPathVectors = new ArrayList<>();
        List<String[]> rows = new ArrayList<>();
        for (int live : new int[] {1, 10, 100, 10_000}) {
            int fillers = Math.max(0, live - 2);
            while (fillerConfigs.size() < fillers) {
                ZelConfig c = new ZelConfig();
                if (!c.open("design", "filler" + fillerConfigs.size(), "config", "w", null)) {
                    throw new IllegalStateException("cannot start a filler configuration");
                }
                fillerConfigs.add(c);
                fillerPathVectors.add(ZelPathVector.create(c));
            }
            Walked newest = live >= 2 ? measured() : null;
            String getterLast = getterCost(oldest.config);
            String queryLast = queryCost(oldest.pv);
            String getterFirst = newest != null ? getterCost(newest.config) : getterLast;
            String queryFirst = newest != null ? queryCost(newest.pv) : queryLast;
            if (newest != null) newest.close();
            rows.add(new String[] {String.format(Locale.ROOT, "%,d", live), getterFirst, getterLast, queryFirst,
                                   queryLast});
        }
        printTable("Growth with the number of live configurations and path vectors (as many of each),\n"
                   + "ns per call (ratio to the floor)",
                   new String[] {"live", "getTopLibName first", "getTopLibName last", "isInstViewBindingUsed first",
                                 "isInstViewBindingUsed last"},
                   rows);
        for (ZelPathVector pv : fillerPathVectors) pv.destroy();
        for (ZelConfig c : fillerConfigs) c.close();
        oldest.close();
        System.out.println();
        System.out.println("first: the newest handle; last: the oldest (before handles were indexed, "
                           + "found at the end of its registry's list).");
        System.out.println("sink " + (sink & 1));
    }
}
