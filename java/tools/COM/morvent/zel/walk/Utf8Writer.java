package COM.morvent.zel.walk;

import java.io.IOException;
import java.io.OutputStream;
import java.io.Writer;

/**
 * A buffered UTF-8 writer that takes a StringBuilder without copying it first: the walk's lines
 * are built in one and written straight into the byte buffer, ASCII as it is. A pair of
 * surrogates becomes one code point; a lone surrogate becomes '?', as the JDK's encoder does.
 */
final class Utf8Writer extends Writer {
    private final OutputStream out;
    private final byte[] buf = new byte[1 << 16];
    private int n;
    private char[] chars = new char[256];

    Utf8Writer(OutputStream out) {
        this.out = out;
    }

    @Override
    public Writer append(CharSequence text) throws IOException {
        if (text instanceof StringBuilder) {
            // Its chars in one copy, rather than a call of charAt for each.
            StringBuilder b = (StringBuilder) text;
            int len = b.length();
            if (chars.length < len) chars = new char[Math.max(len, 2 * chars.length)];
            b.getChars(0, len, chars, 0);
            write(chars, 0, len);
        } else {
            put(text, 0, text.length());
        }
        return this;
    }

    @Override
    public Writer append(CharSequence text, int start, int end) throws IOException {
        put(text, start, end);
        return this;
    }

    @Override
    public void write(String text) throws IOException {
        put(text, 0, text.length());
    }

    @Override
    public void write(int c) throws IOException {
        put(String.valueOf((char) c), 0, 1);
    }

    @Override
    public void write(char[] text, int off, int len) throws IOException {
        byte[] b = buf;
        int end = off + len;
        for (int i = off; i < end; ++i) {
            char c = text[i];
            if (c >= 0x80) {
                put(java.nio.CharBuffer.wrap(text), i, end);
                return;
            }
            if (n == b.length) drain();
            b[n++] = (byte) c;
        }
    }

    private void put(CharSequence s, int start, int end) throws IOException {
        byte[] b = buf;
        for (int i = start; i < end; ++i) {
            if (n > b.length - 4) drain();
            char c = s.charAt(i);
            if (c < 0x80) {
                b[n++] = (byte) c;
            } else if (c < 0x800) {
                b[n++] = (byte) (0xC0 | c >> 6);
                b[n++] = (byte) (0x80 | c & 0x3F);
            } else if (Character.isHighSurrogate(c) && i + 1 < end && Character.isLowSurrogate(s.charAt(i + 1))) {
                int cp = Character.toCodePoint(c, s.charAt(++i));
                b[n++] = (byte) (0xF0 | cp >> 18);
                b[n++] = (byte) (0x80 | cp >> 12 & 0x3F);
                b[n++] = (byte) (0x80 | cp >> 6 & 0x3F);
                b[n++] = (byte) (0x80 | cp & 0x3F);
            } else if (Character.isSurrogate(c)) {
                b[n++] = '?';
            } else {
                b[n++] = (byte) (0xE0 | c >> 12);
                b[n++] = (byte) (0x80 | c >> 6 & 0x3F);
                b[n++] = (byte) (0x80 | c & 0x3F);
            }
        }
    }

    private void drain() throws IOException {
        out.write(buf, 0, n);
        n = 0;
    }

    @Override
    public void flush() throws IOException {
        drain();
        out.flush();
    }

    @Override
    public void close() throws IOException {
        flush();
        out.close();
    }
}
