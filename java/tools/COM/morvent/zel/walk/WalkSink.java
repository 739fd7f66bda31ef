package COM.morvent.zel.walk;

import java.io.IOException;

/**
 * Receives a walk as it goes, depth first: the top cell, then each instance on entering it (its
 * binding, answers and how the walk ends below it are known) and on leaving it (everything
 * below it has been walked).
 */
public interface WalkSink {
    /** The top cell, before any instance. */
    default void start(Node top) throws IOException {
    }

    void enter(Node node) throws IOException;

    default void leave(Node node) throws IOException {
    }

    /** After the last instance. */
    void finish(Node top) throws IOException;
}
