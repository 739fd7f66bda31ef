package COM.morvent.zel.walkbench;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelLevel;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import COM.morvent.zel.walk.DesignFile;
import COM.morvent.zel.walk.LibraryDefinitions;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * The walk benchmark through the bridge: opens a configuration and walks the design it describes
 * with one path vector, depth first. Per level: ZelLevel.bind binds each instance and reads every
 * binding answer the walk tool reads, enters its binding, asks isAtStop and getStopWhy there and
 * leaves again, in one call; then for each binding whose cell view has instances the walk goes
 * below: ZelLevel.enter (bind again, as the level below inherits its lists from the last bind, and
 * pushCell), the walk below, popCell. With --per-instance a native a question, as before ZelLevel: per instance bind, every
 * binding query, pushCell into the binding, isAtStop and getStopWhy, the walk below, popCell. Each
 * cell view's
 * instances are read once and kept.
 *
 * <p>Prints instances per second (the median of the timed walks after a warm-up walk), the
 * resident size after the first 10,000 instances of the first walk and at its end, and a checksum
 * of every answer seen, the same as the C++ walk (walk_cpp.cpp) prints for the same walk.
 *
 * <pre>java -Djava.library.path=DIR -cp ... COM.morvent.zel.walkbench.WalkBench --libs FILE
 *      [--config LIB/CELL/VIEW] [--runs N] [--per-instance]</pre>
 */
public final class WalkBench {
    private static final long FNV_PRIME = 0x100000001b3L;

    /** One instance of a cell view, its strings kept for every bind. */
    private static final class Inst {
        final String name, lib, cell, view;

        Inst(DesignFile.Instance i) {
            name = i.name;
            lib = i.master.lib;
            cell = i.master.cell;
            view = i.master.view;
        }
    }

    private static final Inst[] NONE = new Inst[0];

    /** A cell view's instances, and their strings as ZelLevel.bind takes them. */
    private static final class Level {
        final Inst[] insts;
        final String[] names, libs, cells, views;
        final ZelLevel.Instances packed;

        Level(Inst[] insts) {
            this.insts = insts;
            int n = insts.length;
            names = new String[n];
            libs = new String[n];
            cells = new String[n];
            views = new String[n];
            for (int k = 0; k < n; ++k) {
                names[k] = insts[k].name;
                libs[k] = insts[k].lib;
                cells[k] = insts[k].cell;
                views[k] = insts[k].view;
            }
            packed = new ZelLevel.Instances(names, libs, cells, views);
        }
    }

    /** Counting listener: a bind of the generated design warns of nothing. */
    private static final class Warnings implements ZelWarningListener {
        long count;

        @Override
        public void processWarning(String text) {
            if (count++ < 5) System.err.println("zel-walk-bench: warning: " + text);
        }
    }

    private final ZelConfig config;
    private final LibraryDefinitions libraries;
    private final Warnings warnings = new Warnings();
    // lib -> cell -> view -> instances
    private final Map<String, Map<String, Map<String, Level>>> design = new HashMap<>();

    private ZelPathVector pv;
    private long hash, instances, open, stopped, rssAt10k;
    private final long[] stopBits = new long[5];

    private WalkBench(ZelConfig config, LibraryDefinitions libraries) {
        this.config = config;
        this.libraries = libraries;
    }

    private Level instancesOf(String lib, String cell, String view) {
        Map<String, Level> views = design.computeIfAbsent(lib, k -> new HashMap<>())
                .computeIfAbsent(cell, k -> new HashMap<>());
        Level known = views.get(view);
        if (known != null) return known;
        Inst[] found = NONE;
        Path dir = libraries.directory(lib);
        if (dir != null) {
            try {
                List<Inst> list = new ArrayList<>();
                for (DesignFile.Instance i : DesignFile.read(dir.resolve(cell).resolve(view))) list.add(new Inst(i));
                found = list.toArray(NONE);
            } catch (DesignFile.DesignFileException e) {
                throw new IllegalStateException(e.getMessage());
            }
        }
        known = new Level(found);
        views.put(view, known);
        return known;
    }

    // ---- the checksum, the same fold as the C++ walk's ------------------------------------

    private void mix(String text) {
        long h = hash;
        if (text == null) {
            h = (h ^ 0x1ff) * FNV_PRIME;
        } else {
            // The design's names are ASCII: a char is the byte the C++ walk folds.
            for (int i = 0, n = text.length(); i < n; ++i) h = (h ^ text.charAt(i)) * FNV_PRIME;
            h = (h ^ 0x100) * FNV_PRIME;
        }
        hash = h;
    }

    private void mix(long value) {
        hash = (hash ^ (value & 0xffffffffL)) * FNV_PRIME;
    }

    // ---- the walk -------------------------------------------------------------------------

    private boolean atStop() {
        boolean stop = pv.isAtStop();
        int why = pv.getStopWhy();
        mix(why);
        if (stop) countStop(why);
        return stop;
    }

    private boolean perInstance;

    private void level(Level level) {
        if (perInstance) {
            levelPerInstance(level.insts);
            return;
        }
        int n = level.insts.length;
        if (n == 0) return;
        ZelLevel a = ZelLevel.bind(pv, level.packed, true, true, false, false, warnings);
        for (int i = 0; i < n; ++i) {
            if (++instances == 10_000) rssAt10k = rssKiB();
            String lib = a.getCurrentLibBinding(i);
            String cell = a.getCurrentCellBinding(i);
            String view = a.getCurrentViewBinding(i);
            mix(lib);
            mix(cell);
            mix(view);
            boolean unbound = a.is(i, ZelLevel.UNBOUND);
            mix(unbound ? 1 : 0);
            mix(a.getCurrentLibList(i));
            mix(a.getCurrentViewList(i));
            mix(a.getCurrentExpandedViewList(i));
            mix(a.getLibListBindWhy(i));
            // VIEW_SET to VIEW_LIST_INHERITED are the eight flags of the walk below, in its order.
            mix((a.flags(i) >> 1) & 0xff);
            mix(a.getLibSetOnCellBinding(i));
            if (unbound) {
                ++open;
                continue;
            }
            if (!a.is(i, ZelLevel.PUSHED)) continue;
            int why = a.getStopWhy(i);
            mix(why);
            if (a.is(i, ZelLevel.AT_STOP)) {
                countStop(why);
                continue;
            }
            // Nothing below a cell view without instances: its stop rules were asked already.
            Level below = instancesOf(lib, cell, view);
            if (below.insts.length == 0) continue;
            // The level below inherits its lists from the last bind: this instance's again.
            if (!ZelLevel.enter(pv, level.packed, i, true, true, false)) continue;
            level(below);
            pv.popCell();
        }
    }

    private void countStop(int why) {
        ++stopped;
        for (int b = 0; b < 5; ++b)
            if ((why & (1 << b)) != 0) ++stopBits[b];
    }

    // One native a question, as a program without ZelLevel walks.
    private void levelPerInstance(Inst[] insts) {
        for (Inst inst : insts) {
            pv.bind(inst.name, inst.lib, inst.cell, inst.view, true, true, false, warnings);
            if (++instances == 10_000) rssAt10k = rssKiB();
            // The binding queries, as the walk tool reads them.
            String lib = pv.getCurrentLibBinding();
            String cell = pv.getCurrentCellBinding();
            String view = pv.getCurrentViewBinding();
            mix(lib);
            mix(cell);
            mix(view);
            boolean unbound = pv.isUnbound();
            mix(unbound ? 1 : 0);
            mix(pv.getCurrentLibList());
            mix(pv.getCurrentViewList());
            mix(pv.getCurrentExpandedViewList());
            mix(pv.getLibListBindWhy());
            int flags = 0;
            if (pv.isCurrentViewSet()) flags |= 1;
            if (pv.isCurrentViewListSet()) flags |= 2;
            if (pv.isCurrentOccurBinding()) flags |= 4;
            if (pv.isCurrentViewMRU()) flags |= 8;
            if (pv.isInstViewBindingUsed()) flags |= 16;
            if (pv.isCellViewBindingUsed()) flags |= 32;
            if (pv.isLibListInherited()) flags |= 64;
            if (pv.isViewListInherited()) flags |= 128;
            mix(flags);
            mix(pv.getLibSetOnCellBinding());
            if (unbound) {
                ++open;
                continue;
            }
            if (!pv.pushCell(lib, cell, view, inst.name)) continue;
            if (!atStop()) level(instancesOf(lib, cell, view));
            pv.popCell();
        }
    }

    private static final class Result {
        long hash, instances, open, stopped, rssAt10k, rssEnd;
        long[] stopBits;
        double seconds;

        String checksum() {
            return String.format("checksum: instances=%d open=%d stopped=%d stopBits=%d/%d/%d/%d/%d hash=%016x",
                    instances, open, stopped, stopBits[0], stopBits[1], stopBits[2], stopBits[3], stopBits[4], hash);
        }
    }

    private Result walkOnce() {
        hash = 0xcbf29ce484222325L;
        instances = open = stopped = 0;
        rssAt10k = -1;
        Arrays.fill(stopBits, 0);
        long start = System.nanoTime();
        pv = ZelPathVector.create(config);
        if (pv.pathvector == 0) throw new IllegalStateException("no path vector over the configuration");
        String lib = config.getTopLibName(), cell = config.getTopCellName(), view = config.getTopViewName();
        if (!pv.pushCell(lib, cell, view, null)) throw new IllegalStateException("the top cell was refused");
        if (!atStop()) level(instancesOf(lib, cell, view));
        pv.destroy();
        Result r = new Result();
        r.seconds = (System.nanoTime() - start) / 1e9;
        r.hash = hash;
        r.instances = instances;
        r.open = open;
        r.stopped = stopped;
        r.stopBits = stopBits.clone();
        r.rssAt10k = rssAt10k;
        r.rssEnd = rssKiB();
        return r;
    }

    static long rssKiB() {
        try {
            for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
                if (line.startsWith("VmRSS:")) return Long.parseLong(line.substring(6).replace("kB", "").trim());
            }
        } catch (IOException | NumberFormatException e) {
            return -1;
        }
        return -1;
    }

    public static void main(String[] args) {
        String libs = null, configName = "wdesign/top/config";
        int runs = 5;
        boolean perInstance = false;
        for (int i = 0; i < args.length; ++i) {
            if (args[i].equals("--libs") && i + 1 < args.length) {
                libs = args[++i];
            } else if (args[i].equals("--config") && i + 1 < args.length) {
                configName = args[++i];
            } else if (args[i].equals("--per-instance")) {
                perInstance = true;
            } else if (args[i].equals("--runs") && i + 1 < args.length) {
                runs = Math.max(1, Integer.parseInt(args[++i]));
            } else {
                libs = null;
                break;
            }
        }
        String[] parts = configName.split("/", -1);
        if (libs == null || parts.length != 3) {
            System.err.println("usage: WalkBench --libs FILE [--config LIB/CELL/VIEW] [--runs N] [--per-instance]");
            System.exit(2);
        }
        ZelConfig.init(libs);
        ZelConfig config = new ZelConfig();
        Warnings openWarnings = new Warnings();
        if (!config.open(parts[0], parts[1], parts[2], "r", openWarnings)) {
            System.err.println("zel-walk-bench: configuration " + configName + " does not open");
            System.exit(1);
        }
        WalkBench bench = new WalkBench(config, LibraryDefinitions.loaded());
        bench.perInstance = perInstance;
        Result first = bench.walkOnce();  // warm-up: reads the design files, compiles the walk
        double[] rates = new double[runs];
        Result last = first;
        for (int k = 0; k < runs; ++k) {
            last = bench.walkOnce();
            if (last.hash != first.hash || last.instances != first.instances) {
                System.err.println("zel-walk-bench: run " + (k + 1) + " saw another walk");
                System.exit(1);
            }
            rates[k] = last.instances / last.seconds;
        }
        Arrays.sort(rates);
        double median = runs % 2 == 1 ? rates[runs / 2] : (rates[runs / 2 - 1] + rates[runs / 2]) / 2;
        System.out.printf((perInstance ? "Java walk, a native a question" : "Java walk")
                + ": %d instances, %.0f instances/s (median of %d runs; min %.0f, max %.0f)%n",
                first.instances, median, runs, rates[0], rates[runs - 1]);
        System.out.printf("Java RSS: %d KiB after 10,000 instances, %d KiB at the end of the first walk (%.3f), "
                + "%d KiB after %d more%n", first.rssAt10k, first.rssEnd, (double) first.rssEnd / first.rssAt10k,
                last.rssEnd, runs);
        System.out.println(first.checksum());
        long w = openWarnings.count + bench.warnings.count;
        if (w != 0) System.out.println("warnings: " + w);
        config.close();
    }
}
