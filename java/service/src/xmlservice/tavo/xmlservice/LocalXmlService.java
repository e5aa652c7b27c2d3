package tavo.xmlservice;

import com.sun.net.httpserver.HttpExchange;
import com.sun.net.httpserver.HttpServer;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.URLDecoder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.HashMap;
import java.util.Map;

/**
 * A loopback stand-in for the health-care messaging service. POST /tavo?servizio=..&mittente=..
 * with the message as body answers with an XML reply; a servizio starting with "ERR" is refused
 * with status 422 and error number 17. GET answers that the service is up.
 *
 * <p>Usage: LocalXmlService [port [port-file]]; port 0 picks a free one, which is written to
 * port-file (atomically) once the service listens.
 */
public final class LocalXmlService {
    static final int REFUSED_ERROR = 17;

    private LocalXmlService() {}

    public static void main(String[] args) throws IOException {
        int port = args.length > 0 ? Integer.parseInt(args[0]) : 0;
        HttpServer server = HttpServer.create(new InetSocketAddress(InetAddress.getLoopbackAddress(), port), 0);
        server.createContext("/tavo", LocalXmlService::handle);
        server.start();
        int bound = server.getAddress().getPort();
        System.out.println("LocalXmlService listening on http://127.0.0.1:" + bound + "/tavo");
        if (args.length > 1) {
            Path target = Path.of(args[1]);
            Path partial = Path.of(args[1] + ".part");
            Files.writeString(partial, Integer.toString(bound));
            Files.move(partial, target, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        }
    }

    private static void handle(HttpExchange exchange) throws IOException {
        try (exchange) {
            if (!"POST".equals(exchange.getRequestMethod())) {
                reply(exchange, 200, 0, xml("stato", "", "", "", "OK", 0, ""));
                return;
            }
            Map<String, String> query = parseQuery(exchange.getRequestURI().getRawQuery());
            String servizio = query.getOrDefault("servizio", "");
            String mittente = query.getOrDefault("mittente", "");
            String modo = query.getOrDefault("modo", "S");
            String messaggio = new String(exchange.getRequestBody().readAllBytes(), StandardCharsets.UTF_8);
            boolean refused = servizio.startsWith("ERR");
            int errorNumber = refused ? REFUSED_ERROR : 0;
            String body = xml("risposta", servizio, mittente, modo, refused ? "KO" : "OK", errorNumber, messaggio);
            reply(exchange, refused ? 422 : 200, errorNumber, body);
        }
    }

    private static void reply(HttpExchange exchange, int status, int errorNumber, String body) throws IOException {
        byte[] bytes = body.getBytes(StandardCharsets.UTF_8);
        exchange.getResponseHeaders().set("Content-Type", "application/xml; charset=UTF-8");
        exchange.getResponseHeaders().set("X-Tavo-Errore", Integer.toString(errorNumber));
        exchange.sendResponseHeaders(status, bytes.length);
        try (OutputStream out = exchange.getResponseBody()) {
            out.write(bytes);
        }
    }

    static String xml(String root, String servizio, String mittente, String modo, String esito, int errore,
            String messaggio) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + root + " servizio=\"" + escape(servizio)
                + "\" mittente=\"" + escape(mittente) + "\" modo=\"" + escape(modo) + "\"><esito>" + esito
                + "</esito><errore>" + errore + "</errore><messaggio>" + escape(messaggio) + "</messaggio></"
                + root + ">";
    }

    static String escape(String text) {
        StringBuilder out = new StringBuilder(text.length());
        for (char c : text.toCharArray()) {
            switch (c) {
                case '<' -> out.append("&lt;");
                case '>' -> out.append("&gt;");
                case '&' -> out.append("&amp;");
                case '"' -> out.append("&quot;");
                default -> out.append(c);
            }
        }
        return out.toString();
    }

    private static Map<String, String> parseQuery(String raw) {
        Map<String, String> values = new HashMap<>();
        if (raw == null) return values;
        for (String pair : raw.split("&")) {
            int eq = pair.indexOf('=');
            if (eq < 0) continue;
            values.put(URLDecoder.decode(pair.substring(0, eq), StandardCharsets.UTF_8),
                    URLDecoder.decode(pair.substring(eq + 1), StandardCharsets.UTF_8));
        }
        return values;
    }
}
