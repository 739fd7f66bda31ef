package COM.morvent.zel;

import java.lang.ref.Cleaner;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Releases the configurations and path vectors that a program dropped without closing them:
 * each one's handle is closed or destroyed once its Java object is unreachable.
 *
 * <p>The release runs on the cleaner's own thread, at the same time as the program's calls.
 * That is safe because every native takes the lock of the configuration it works on; the
 * release only waits for a call in progress on that configuration. A handle that was closed
 * already is released again harmlessly: handles are never reused, and a handle no longer open
 * answers false.
 */
final class ZelCleanup {
    private static final Cleaner CLEANER = Cleaner.create();

    /** How many handles have been released, for the tests to wait on. */
    static final AtomicInteger released = new AtomicInteger();

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

    /** Releases {@code handle} when {@code owner} becomes unreachable, unless set to 0 first. */
    static Handle watch(Object owner, boolean pathVector, int handle) {
        Handle watched = new Handle(pathVector, handle);
        CLEANER.register(owner, watched);
        return watched;
    }
}
