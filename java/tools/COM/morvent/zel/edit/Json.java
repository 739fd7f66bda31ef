package COM.morvent.zel.edit;

/** A JSON text written in order: objects, arrays and values, commas placed as it goes. */
final class Json {
    private final StringBuilder out = new StringBuilder(256);
    /** Whether the next value of the innermost object or array needs a comma before it. */
    private boolean comma;

    Json open() {
        value();
        out.append('{');
        comma = false;
        return this;
    }

    Json close() {
        out.append('}');
        comma = true;
        return this;
    }

    Json array(String key) {
        key(key);
        out.append('[');
        comma = false;
        return this;
    }

    Json end() {
        out.append(']');
        comma = true;
        return this;
    }

    /** Starts an object as the next element of an array. */
    Json element() {
        return open();
    }

    Json key(String key) {
        if (key == null) return this;
        value();
        string(key);
        out.append(':');
        comma = false;
        return this;
    }

    Json put(String key, String value) {
        key(key);
        value();
        if (value == null) out.append("null");
        else string(value);
        comma = true;
        return this;
    }

    Json put(String key, long value) {
        key(key);
        value();
        out.append(value);
        comma = true;
        return this;
    }

    Json put(String key, boolean value) {
        key(key);
        value();
        out.append(value);
        comma = true;
        return this;
    }

    /** A nested object: starts it under {@code key}; end it with {@link #close}. */
    Json object(String key) {
        key(key);
        out.append('{');
        comma = false;
        return this;
    }

    private void value() {
        if (comma) out.append(',');
    }

    private void string(String s) {
        out.append('"');
        for (int i = 0; i < s.length(); ++i) {
            char c = s.charAt(i);
            switch (c) {
                case '"': out.append("\\\""); break;
                case '\\': out.append("\\\\"); break;
                case '\n': out.append("\\n"); break;
                case '\r': out.append("\\r"); break;
                case '\t': out.append("\\t"); break;
                default:
                    // '<' too: a JSON text never closes a script element it is put in.
                    if (c < 0x20 || c == '<' || c == 0x2028 || c == 0x2029) out.append(String.format("\\u%04x", (int) c));
                    else out.append(c);
            }
        }
        out.append('"');
    }

    @Override
    public String toString() {
        return out.toString();
    }
}
