package COM.morvent.zel.edit;

import com.sun.net.httpserver.HttpExchange;
import com.sun.net.httpserver.HttpServer;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.URLDecoder;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.SecureRandom;
import java.util.Base64;
import java.util.HashMap;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;

/**
 * The editor's web server: the page and its API, for one {@link Session}, on the loopback
 * interface only. Every request must carry the random token of the printed address as the first
 * part of its path, and the Host header of that address: a page of another site in the same
 * browser cannot guess the one, and a DNS name rebound to 127.0.0.1 does not give the other.
 * Requests name libraries, cells, views and instances, never files.
 */
final class Server {
    /** Largest request body read: a note or a list, never a file. */
    private static final int MAX_BODY = 256 * 1024;
    private static final String[][] FILES = {
        {"", "index.html", "text/html; charset=utf-8"},
        {"edit.js", "edit.js", "text/javascript; charset=utf-8"},
        {"edit.css", "edit.css", "text/css; charset=utf-8"},
    };

    private final Session session;
    private final HttpServer http;
    private final ExecutorService threads;
    private final String token;
    private final String host;
    private final String origin;

    static {
        // Small answers go out at once: with Nagle's delay the state's answer waited some 40 ms for
        // the browser's delayed acknowledgement of its headers. Read when the first server starts.
        if (System.getProperty("sun.net.httpserver.nodelay") == null) System.setProperty("sun.net.httpserver.nodelay", "true");
    }

    Server(Session session, int port) throws IOException {
        this.session = session;
        byte[] random = new byte[18];
        new SecureRandom().nextBytes(random);
        token = Base64.getUrlEncoder().withoutPadding().encodeToString(random);
        http = HttpServer.create(new InetSocketAddress(InetAddress.getByName("127.0.0.1"), port), 16);
        host = "127.0.0.1:" + http.getAddress().getPort();
        origin = "http://" + host;
        // Long requests (Changes, lint, search, the table of each tab) walk without the session's
        // lock: enough threads that rows and polls still find one free.
        threads = Executors.newFixedThreadPool(12, r -> {
            Thread t = new Thread(r, "zel-edit-http");
            t.setDaemon(true);
            return t;
        });
        http.setExecutor(threads);
        http.createContext("/", this::handle);
    }

    void start() {
        http.start();
    }

    void stop() {
        http.stop(0);
        threads.shutdownNow();
    }

    /** The address to open, token included. */
    String address() {
        return origin + "/" + token + "/";
    }

    int port() {
        return http.getAddress().getPort();
    }

    private void handle(HttpExchange ex) throws IOException {
        try {
            String hostHeader = ex.getRequestHeaders().getFirst("Host");
            if (!host.equals(hostHeader)) {
                send(ex, 403, "text/plain", "refused: this server answers only to Host " + host);
                return;
            }
            String path = ex.getRequestURI().getRawPath();
            String prefix = "/" + token + "/";
            if (path.length() < prefix.length() || !same(path.substring(0, prefix.length()), prefix)) {
                if (same(path, "/" + token)) {
                    ex.getResponseHeaders().set("Location", prefix);
                    send(ex, 303, "text/plain", "");
                    return;
                }
                send(ex, 403, "text/plain", "refused: the address lacks this server's token; open the address it printed");
                return;
            }
            String rest = path.substring(prefix.length());
            String method = ex.getRequestMethod();
            if (!rest.startsWith("api/")) {
                if (!method.equals("GET") && !method.equals("HEAD")) {
                    send(ex, 405, "text/plain", "only GET here");
                    return;
                }
                for (String[] f : FILES) {
                    if (f[0].equals(rest)) {
                        sendResource(ex, f[1], f[2]);
                        return;
                    }
                }
                send(ex, 404, "text/plain", "no such page");
                return;
            }
            Map<String, String> q = form(ex.getRequestURI().getRawQuery());
            if (method.equals("POST")) {
                // A form of another site cannot set this header without asking first, and
                // nothing here answers that asking: edits come from this page alone.
                String origin = ex.getRequestHeaders().getFirst("Origin");
                if (!"1".equals(ex.getRequestHeaders().getFirst("X-Zel-Edit")) || origin != null && !origin.equals(this.origin)) {
                    send(ex, 403, "text/plain", "refused: edits come from the editor's page only");
                    return;
                }
                q.putAll(form(body(ex)));
            } else if (!method.equals("GET")) {
                send(ex, 405, "text/plain", "GET or POST");
                return;
            }
            sendJson(ex, 200, api(rest.substring(4), method, q));
        } catch (Session.Refused e) {
            sendJson(ex, e.status, new Json().open().put("error", e.getMessage()).close().toString());
        } catch (RuntimeException e) {
            sendJson(ex, 500, new Json().open().put("error", "the server failed: " + e).close().toString());
        } finally {
            ex.close();
        }
    }

    private String api(String name, String method, Map<String, String> q) throws Session.Refused {
        boolean post = method.equals("POST");
        switch (name) {
            case "state": return session.state(number(q.get("since"), 0));
            case "children": return session.children(q.getOrDefault("path", ""));
            case "instance": return session.instance(q.getOrDefault("path", ""));
            case "settings": return session.settings();
            case "search":
                return session.search(q.get("q"), (int) number(q.get("offset"), 0),
                                      (int) Math.min(1000, Math.max(1, number(q.get("limit"), 100))), q.get("job"));
            case "changes": return session.changes(q.get("job"));
            case "table": return session.table(q.get("job"));
            case "progress": return session.progress();
            case "names": return session.names(q.get("lib"), q.get("cell"));
            default:
                break;
        }
        if (!java.util.Set.of("edit", "undo", "redo", "save", "saveas", "reload", "lint", "cancel").contains(name)) {
            throw new Session.Refused(404, "no such request '" + name + "'");
        }
        if (!post) throw new Session.Refused(405, "'" + name + "' changes the configuration: POST it");
        switch (name) {
            case "edit": return session.edit(q);
            case "undo": return session.undo(true);
            case "cancel": return session.cancel(q.get("job"));
            case "redo": return session.undo(false);
            case "save": return session.save();
            case "saveas": return session.saveAs(q.get("value"));
            case "reload": return session.reload();
            default: return session.lint(q.get("job"));
        }
    }

    private static long number(String s, long otherwise) {
        try {
            return s == null ? otherwise : Math.max(0, Long.parseLong(s));
        } catch (NumberFormatException e) {
            return otherwise;
        }
    }

    /** Compares without telling by its time how much of the token was right. */
    private static boolean same(String a, String b) {
        return MessageDigest.isEqual(a.getBytes(StandardCharsets.UTF_8), b.getBytes(StandardCharsets.UTF_8));
    }

    private static String body(HttpExchange ex) throws IOException, Session.Refused {
        try (InputStream in = ex.getRequestBody()) {
            byte[] b = in.readNBytes(MAX_BODY + 1);
            if (b.length > MAX_BODY) throw new Session.Refused(413, "the request is too large");
            return new String(b, StandardCharsets.UTF_8);
        }
    }

    static Map<String, String> form(String text) throws Session.Refused {
        Map<String, String> m = new HashMap<>();
        if (text == null || text.isEmpty()) return m;
        for (String pair : text.split("&")) {
            int eq = pair.indexOf('=');
            try {
                String k = URLDecoder.decode(eq < 0 ? pair : pair.substring(0, eq), StandardCharsets.UTF_8);
                String v = eq < 0 ? "" : URLDecoder.decode(pair.substring(eq + 1), StandardCharsets.UTF_8);
                m.put(k, v);
            } catch (IllegalArgumentException e) {
                throw new Session.Refused(400, "a malformed request");
            }
        }
        return m;
    }

    private void sendResource(HttpExchange ex, String file, String type) throws IOException {
        try (InputStream in = Server.class.getResourceAsStream("web/" + file)) {
            if (in == null) {
                send(ex, 500, "text/plain", "the page " + file + " is missing from the jar");
                return;
            }
            String text = new String(in.readAllBytes(), StandardCharsets.UTF_8);
            send(ex, 200, type, text);
        }
    }

    private static void sendJson(HttpExchange ex, int status, String json) throws IOException {
        send(ex, status, "application/json; charset=utf-8", json);
    }

    private static void send(HttpExchange ex, int status, String type, String text) throws IOException {
        byte[] b = text.getBytes(StandardCharsets.UTF_8);
        var headers = ex.getResponseHeaders();
        headers.set("Content-Type", type);
        headers.set("Cache-Control", "no-store");
        headers.set("X-Content-Type-Options", "nosniff");
        headers.set("Referrer-Policy", "no-referrer");
        headers.set("X-Frame-Options", "DENY");
        headers.set("Content-Security-Policy",
                    "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
        boolean head = ex.getRequestMethod().equals("HEAD");
        ex.sendResponseHeaders(status, head || b.length == 0 ? -1 : b.length);
        if (!head && b.length > 0) {
            try (OutputStream out = ex.getResponseBody()) {
                out.write(b);
            }
        }
    }
}
