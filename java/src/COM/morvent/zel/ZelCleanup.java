package COM.morvent.zel;

import java.lang.ref.PhantomReference;
import java.lang.ref.Reference;
import java.lang.ref.ReferenceQueue;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Releases the configurations and path vectors that a program dropped without closing them:
 * each one's handle is closed or destroyed once its Java object is unreachable.
 *
 * <p>A phantom reference to each object, queued by the collector once the object is
 * unreachable, and one daemon thread that takes them off the queue (what
 * {@code java.lang.ref.Cleaner} does, which Java 8 lacks). The release runs on that thread, at
 * the same time as the program's calls. That is safe because every native takes the lock of
 * the configuration it works on; the release only waits for a call in progress on that
 * configuration. A handle that was closed already is released again harmlessly: handles are
 * never reused, and a handle no longer open answers false.
 */
final class ZelCleanup {
    private static final ReferenceQueue<Object> QUEUE = new ReferenceQueue<>();
    /**
     * The references themselves must stay reachable until queued, or none is ever queued: a
     * list linked both ways, so that each leaves it at once (a hash set of them took twice
     * as long to drain).
     */
    private static final Object LIST_LOCK = new Object();
    private static Watch watched;

    /** How many handles have been released, for the tests to wait on. */
    static final AtomicInteger released = new AtomicInteger();

    /** Written to keep an object reachable up to that point (no reachabilityFence on Java 8). */
    @SuppressWarnings("unused")
    private static volatile Object reachable;

    static {
        Thread thread = new Thread(ZelCleanup::drain, "zel-cleanup");
        thread.setDaemon(true);
        // It outlives whatever loaded the jar first: it must not keep that loader reachable.
        thread.setContextClassLoader(null);
        thread.start();
    }

    private ZelCleanup() {
    }

    /** The handle an object holds, as last seen by Java; kept outside the object. */
    static final class Handle implements Runnable {
        private final boolean pathVector;
        private volatile int handle;

        private Handle(boolean pathVector, int handle) {
            this.pathVector = pathVector;
            this.handle = handle;
        }

        /** The owner now holds this handle (0: none to release). */
        void set(int value) {
            handle = value;
        }

        @Override
        public void run() {
            int value = handle;
            if (value == 0) return;
            if (pathVector) {
                ZelPathVector.release(value);
            } else {
                ZelConfig.release(value);
            }
            released.incrementAndGet();
        }
    }

    private static final class Watch extends PhantomReference<Object> {
        final Handle handle;
        private Watch previous;
        private Watch next;

        Watch(Object owner, Handle handle) {
            super(owner, QUEUE);
            this.handle = handle;
            synchronized (LIST_LOCK) {
                next = watched;
                if (watched != null) watched.previous = this;
                watched = this;
            }
        }

        void unlink() {
            synchronized (LIST_LOCK) {
                if (previous != null) {
                    previous.next = next;
                } else {
                    watched = next;
                }
                if (next != null) next.previous = previous;
                previous = null;
                next = null;
            }
        }
    }

    /** Releases {@code handle} when {@code owner} becomes unreachable, unless set to 0 first. */
    static Handle watch(Object owner, boolean pathVector, int value) {
        Handle handle = new Handle(pathVector, value);
        new Watch(owner, handle);
        return handle;
    }

    /** Keeps {@code object} reachable at least until this call. */
    static void keepReachable(Object object) {
        reachable = object;
        reachable = null;
    }

    /** The daemon thread's loop: one release per queued reference, for the life of the JVM. */
    private static void drain() {
        while (true) {
            Reference<?> queued;
            try {
                queued = QUEUE.remove();
            } catch (InterruptedException e) {
                continue;  // nobody but the JVM itself ever interrupts this thread
            }
            Watch watch = (Watch) queued;
            watch.unlink();
            watch.clear();
            try {
                watch.handle.run();
            } catch (Throwable failure) {
                // As a Cleaner does: a release that failed must not end the others.
            }
        }
    }
}
