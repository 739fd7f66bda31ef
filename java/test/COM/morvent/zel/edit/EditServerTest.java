package COM.morvent.zel.edit;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.tests.Fixture;
import COM.morvent.zel.walk.CellView;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/**
 * The editor's server against requests no browser makes: another Host that ends like ours, a
 * token right but for its end, a POST without the page's header. Each must be refused, and the
 * same request done right must pass, so that the refusals are the checks' doing.
 */
class EditServerTest {
    /** A raw request; gives the status of the answer. */
    private static int request(int port, String method, String path, String... headers) throws Exception {
        try (Socket s = new Socket("127.0.0.1", port)) {
            StringBuilder b = new StringBuilder(method + " " + path + " HTTP/1.1\r\n");
            for (String h : headers) b.append(h).append("\r\n");
            b.append("Content-Length: 0\r\nConnection: close\r\n\r\n");
            OutputStream out = s.getOutputStream();
            out.write(b.toString().getBytes(StandardCharsets.US_ASCII));
            out.flush();
            InputStream in = s.getInputStream();
            String answer = new String(in.readAllBytes(), StandardCharsets.ISO_8859_1);
            return Integer.parseInt(answer.substring(9, 12));
        }
    }

    private static boolean chattr(String flag, Path dir) throws InterruptedException {
        try {
            return new ProcessBuilder("chattr", flag, dir.toString()).inheritIO().start().waitFor() == 0;
        } catch (java.io.IOException e) {
            return false;  // no chattr here
        }
    }

    private static CellView copyOfExample() throws Exception {
        String cell = Fixture.uniqueCell("edit");
        Fixture.write(Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config/config.zel"),
                      Files.readString(Fixture.examples().resolve("libs/design/chip/config/config.zel")));
        return new CellView(Fixture.SCRATCH, cell, "config");
    }

    @Test
    void refusesWhatNoPageOfItsOwnWouldSend() throws Exception {
        Path defs = Fixture.init();
        Session session = new Session(defs, copyOfExample());
        Server server = new Server(session, 0);
        server.start();
        try {
            int port = server.port();
            String host = "Host: 127.0.0.1:" + port;
            String base = server.address().substring(("http://127.0.0.1:" + port).length());  // /TOKEN/
            String token = base.substring(1, base.length() - 1);
            String state = base + "api/state";
            assertEquals(200, request(port, "GET", state, host));
            // Host: only ours, not one that merely ends with our port.
            assertEquals(403, request(port, "GET", state, "Host: evil.example:" + port));
            assertEquals(403, request(port, "GET", state, "Host: localhost:" + port));
            assertEquals(403, request(port, "GET", state, "Host: 127.0.0.1:" + port + "0"));
            int none = request(port, "GET", state);  // the HTTP layer may refuse it first
            assertTrue(none == 400 || none == 403, "no Host: " + none);
            // The token: every character counts, the last as much as the first.
            char last = token.charAt(token.length() - 1);
            String wrongEnd = token.substring(0, token.length() - 1) + (last == 'A' ? 'B' : 'A');
            char first = token.charAt(0);
            String wrongStart = (first == 'A' ? 'B' : 'A') + token.substring(1);
            for (String t : new String[] {wrongEnd, wrongStart, token.substring(0, 8), token + "A"}) {
                assertEquals(403, request(port, "GET", "/" + t + "/api/state", host), t);
            }
            // A POST: the page's header and no foreign Origin.
            String lint = base + "api/lint";
            assertEquals(403, request(port, "POST", lint, host));
            assertEquals(403, request(port, "POST", lint, host, "X-Zel-Edit: 0"));
            assertEquals(403, request(port, "POST", lint, host, "X-Zel-Edit: 1", "Origin: http://evil.example:" + port));
            assertEquals(405, request(port, "GET", lint, host, "X-Zel-Edit: 1"));
            assertEquals(200, request(port, "POST", lint, host, "X-Zel-Edit: 1"));
            assertEquals(200, request(port, "POST", lint, host, "X-Zel-Edit: 1", "Origin: http://127.0.0.1:" + port));
        } finally {
            server.stop();
            session.close();
        }
    }

    @Test
    void aSearchStopsWhenCancelledFromAnotherRequest() throws Exception {
        Session session = new Session(Fixture.init(), copyOfExample());
        try {
            assertTrue(session.search("NEG", 0, 10, null).contains("\"path\":\"CORE/ALU0/NEG\""));
            // The cancel comes from another thread while the search walks: it must not wait.
            java.util.concurrent.atomic.AtomicInteger met = new java.util.concurrent.atomic.AtomicInteger();
            Session.duringSearch = () -> {
                if (met.incrementAndGet() != 2) return;
                Thread t = new Thread(() -> session.cancel(null));
                t.start();
                try {
                    t.join(10_000);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
                assertTrue(!t.isAlive(), "cancel waited for the search");
            };
            Session.Refused e = org.junit.jupiter.api.Assertions.assertThrows(Session.Refused.class,
                () -> session.search("no such name", 0, 10, null));
            assertEquals("search cancelled after 2 instances", e.getMessage());
            Session.duringSearch = null;
            // The next search is not the one cancelled.
            assertTrue(session.search("NEG", 0, 10, null).contains("CORE/ALU0/NEG"));
        } finally {
            Session.duringSearch = null;
            session.close();
        }
    }

    @Test
    void aConfigurationNoSaveCanWriteOpensReadOnly() throws Exception {
        Path defs = Fixture.init();
        CellView name = copyOfExample();
        Path dir = Fixture.root().resolve(name.lib).resolve(name.cell).resolve(name.view);
        Session writable = new Session(defs, name);
        try {
            assertTrue(writable.state(0).contains("\"editable\":true,\"readOnly\":null"), writable.state(0));
        } finally {
            writable.close();
        }
        // A folder nobody can write; root writes anyway unless the folder is immutable.
        assertTrue(dir.toFile().setWritable(false, false));
        boolean immutable = Files.isWritable(dir) && chattr("+i", dir);
        try {
            org.junit.jupiter.api.Assumptions.assumeFalse(Files.isWritable(dir), "no way to make a folder unwritable here");
            Session session = new Session(defs, name);
            try {
                String state = session.state(0);
                assertTrue(state.contains("\"editable\":false,\"readOnly\":\"the folder "), state);
                Session.Refused e = org.junit.jupiter.api.Assertions.assertThrows(Session.Refused.class,
                    () -> session.edit(java.util.Map.of("op", "default-views", "value", "symbol")));
                assertTrue(e.getMessage().startsWith("read-only: the folder "), e.getMessage());
                org.junit.jupiter.api.Assertions.assertThrows(Session.Refused.class, session::save);
            } finally {
                session.close();
            }
        } finally {
            if (immutable) chattr("-i", dir);
            dir.toFile().setWritable(true, false);
        }
    }
    @Test
    void longWorkHoldsNoOtherRequestAndStopsWhenCancelled() throws Exception {
        // 3,000 instances in one level: the walk's stop is heard every 1,024.
        String cell = Fixture.uniqueCell("wide");
        Path dir = Fixture.root().resolve(Fixture.SCRATCH).resolve(cell);
        StringBuilder b = new StringBuilder("zel-instances 1\n");
        for (int i = 0; i < 3000; ++i) b.append("inst I").append(i).append(" scratch nothing symbol\n");
        Fixture.write(dir.resolve("schematic/instances.zel"), b.toString());
        Fixture.write(dir.resolve("config/config.zel"), "zelvek-config 1\nlocation scratch " + cell
                      + " config\nrevision 1\ntop scratch " + cell + " schematic\ndefault-views \"schematic symbol\"\n");
        Session session = new Session(Fixture.init(), new CellView(Fixture.SCRATCH, cell, "config"));
        try {
            session.edit(java.util.Map.of("op", "constant", "name", "C", "value", "1"));  // so that Changes walks
            for (String kind : new String[] {"changes", "lint", "table"}) {
                // Once the long request has its copy: a row from another thread is answered, another
                // tab's Cancel leaves it be, its own stops it; or an edit makes its answer stale.
                Session.atJobStart = job -> {
                    Throwable[] failed = {null};
                    Thread other = new Thread(() -> {
                        try {
                            assertTrue(session.children("").contains("I2999"));
                            if (kind.equals("table")) {
                                session.edit(java.util.Map.of("op", "default-views", "value", "schematic"));
                                return;
                            }
                            session.cancel("another tab's");
                            assertTrue(!job.progress.stopping(), "another tab's Cancel stopped it");
                            session.cancel("mine");
                        } catch (Throwable e) {
                            failed[0] = e;
                        }
                    });
                    other.start();
                    try {
                        other.join(60_000);
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                    }
                    assertTrue(!other.isAlive(), "a row waited for " + kind);
                    if (failed[0] != null) throw new AssertionError(failed[0]);
                };
                if (kind.equals("table")) {
                    assertTrue(session.table("mine").contains("\"stale\":true"));
                    break;
                }
                Session.Refused e = org.junit.jupiter.api.Assertions.assertThrows(Session.Refused.class,
                    () -> (kind.equals("lint") ? session.lint("mine") : session.changes("mine")).length());
                assertEquals(kind + " cancelled after 1024 instances", e.getMessage());
            }
            Session.atJobStart = null;
            assertTrue(session.table(null).contains("\"stale\":false"));
            // A Cancel that overtook its request stops it when it comes.
            session.cancel("sent first");
            assertEquals("table cancelled after 0 instances",
                         org.junit.jupiter.api.Assertions.assertThrows(Session.Refused.class, () -> session.table("sent first")).getMessage());
        } finally {
            Session.atJobStart = null;
            session.close();
        }
    }
}
