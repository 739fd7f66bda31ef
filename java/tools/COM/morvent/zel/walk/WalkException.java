package COM.morvent.zel.walk;

/** A failure that ends the walk; its message is one line that says what to do. */
public final class WalkException extends Exception {
    private static final long serialVersionUID = 1L;

    /** Exit status for the command: 2 for a wrong command line, 1 for anything else. */
    public final int status;

    public WalkException(int status, String message) {
        super(message);
        this.status = status;
    }
}
