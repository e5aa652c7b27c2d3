package tavo.client;

import java.io.IOException;
import java.net.URI;
import java.net.URLEncoder;
import java.net.http.HttpClient;
import java.net.http.HttpRequest;
import java.net.http.HttpResponse;
import java.nio.charset.StandardCharsets;
import java.time.Duration;

/**
 * Sends each message as an HTTP POST to the endpoint named by the system property
 * "tavo.endpoint" (set with an "option=-Dtavo.endpoint=..." line of tavodll_classpath.conf).
 * The service answers with its XML reply; status 200 means a positive outcome and the header
 * "X-Tavo-Errore" carries the service's error number.
 */
public class SendServiceProxy {
    public static final String ENDPOINT_PROPERTY = "tavo.endpoint";
    public static final String ERROR_HEADER = "X-Tavo-Errore";
    /** Error number of a reply that never arrived (transport failure). */
    public static final int TRANSPORT_ERROR = -1;

    private static final Duration TIMEOUT = Duration.ofSeconds(10);
    private static final HttpClient CLIENT = HttpClient.newBuilder().connectTimeout(TIMEOUT).build();

    private final String endpoint = System.getProperty(ENDPOINT_PROPERTY, "http://127.0.0.1:8080/tavo");

    public boolean startTavo() {
        try {
            URI uri = URI.create(endpoint);
            return "http".equals(uri.getScheme()) || "https".equals(uri.getScheme());
        } catch (IllegalArgumentException e) {
            return false;
        }
    }

    public void stopTavo() {
        // Nothing is held between calls.
    }

    /** "OK" when the endpoint answers at all, otherwise "KO: " and the reason. */
    public String checkTransport() {
        try {
            HttpRequest request = HttpRequest.newBuilder(URI.create(endpoint)).timeout(TIMEOUT).GET().build();
            CLIENT.send(request, HttpResponse.BodyHandlers.discarding());
            return "OK";
        } catch (IOException | IllegalArgumentException e) {
            return "KO: " + e;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return "KO: " + e;
        }
    }

    public String getVersionePorta() {
        return "tavo-proxy 3.1.0";
    }

    public int getRideConfig() {
        return Integer.getInteger("tavo.rideConfig", 0);
    }

    public ITavoClientResponse sendMessageS(String servizio, String mittente, String messaggio) {
        return send("S", servizio, mittente, messaggio);
    }

    public ITavoClientResponse sendMessageA(String servizio, String mittente, String messaggio) {
        return send("A", servizio, mittente, messaggio);
    }

    private ITavoClientResponse send(String mode, String servizio, String mittente, String messaggio) {
        String query = "?servizio=" + encode(servizio) + "&mittente=" + encode(mittente) + "&modo=" + mode;
        try {
            HttpRequest request = HttpRequest.newBuilder(URI.create(endpoint + query))
                    .timeout(TIMEOUT)
                    .header("Content-Type", "text/plain; charset=UTF-8")
                    .POST(HttpRequest.BodyPublishers.ofString(messaggio, StandardCharsets.UTF_8))
                    .build();
            HttpResponse<String> response = CLIENT.send(request, HttpResponse.BodyHandlers.ofString(StandardCharsets.UTF_8));
            int errorNumber = response.headers().firstValue(ERROR_HEADER).map(SendServiceProxy::parseNumber).orElse(0);
            return new TavoClientResponse(response.statusCode() == 200, errorNumber, response.body());
        } catch (IOException | IllegalArgumentException e) {
            return new TavoClientResponse(false, TRANSPORT_ERROR, null);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return new TavoClientResponse(false, TRANSPORT_ERROR, null);
        }
    }

    private static String encode(String text) {
        return URLEncoder.encode(text == null ? "" : text, StandardCharsets.UTF_8);
    }

    private static int parseNumber(String text) {
        try {
            return Integer.parseInt(text.trim());
        } catch (NumberFormatException e) {
            return TRANSPORT_ERROR;
        }
    }
}
