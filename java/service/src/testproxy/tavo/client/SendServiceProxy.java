package tavo.client;

/**
 * Test proxy. The system property "tavotest.mode" (an option line of the test's configuration)
 * selects how every method behaves: "normal" (default), "throw" (every method throws),
 * "null" (string methods and sends return null), "false" (startTavo answers false),
 * "ctorthrow" (the constructor throws), "huge" (checkTransport and the XML of the sends are
 * "tavotest.hugeChars" characters long). In normal mode the send methods act on servizio:
 * OK, KO, THROW, NULLRESP, STATUS_THROWS, ERRNUM_THROWS, XML_THROWS, XML_NULL.
 */
public class SendServiceProxy {
    private final String mode = System.getProperty("tavotest.mode", "normal");

    private static String huge() {
        return "x".repeat(Integer.getInteger("tavotest.hugeChars", 1 << 20));
    }

    public SendServiceProxy() {
        if (mode.equals("ctorthrow")) throw new IllegalStateException("constructor refuses");
    }

    private void maybeThrow(String method) {
        if (mode.equals("throw")) throw new IllegalStateException(method + " refuses");
    }

    public boolean startTavo() {
        maybeThrow("startTavo");
        return !mode.equals("false");
    }

    public void stopTavo() {
        maybeThrow("stopTavo");
    }

    public String checkTransport() {
        maybeThrow("checkTransport");
        if (mode.equals("huge")) return huge();
        return mode.equals("null") ? null : "OK";
    }

    public String getVersionePorta() {
        maybeThrow("getVersionePorta");
        return mode.equals("null") ? null : "testproxy 1.0";
    }

    public int getRideConfig() {
        maybeThrow("getRideConfig");
        return Integer.getInteger("tavotest.ride", 42);
    }

    public ITavoClientResponse sendMessageS(String servizio, String mittente, String messaggio) {
        return send("sendMessageS", servizio, mittente, messaggio);
    }

    public ITavoClientResponse sendMessageA(String servizio, String mittente, String messaggio) {
        return send("sendMessageA", servizio, mittente, messaggio);
    }

    private ITavoClientResponse send(String method, String servizio, String mittente, String messaggio) {
        maybeThrow(method);
        if (mode.equals("null") || servizio.equals("NULLRESP")) return null;
        if (servizio.equals("THROW")) throw new IllegalArgumentException("send refuses");
        StringBuilder units = new StringBuilder();
        for (char c : messaggio.toCharArray()) units.append(String.format("%04X ", (int) c));
        if (mode.equals("huge")) return new TestResponse(servizio, huge());
        String xml = "<r metodo='" + method + "' servizio='" + servizio + "' mittente='" + mittente + "'>" + messaggio
                + "|" + units.toString().trim() + "</r>";
        return new TestResponse(servizio, xml);
    }

    /** A response whose behaviour follows the servizio it answers. */
    public static final class TestResponse implements ITavoClientResponse {
        private final String servizio;
        private final String xml;

        TestResponse(String servizio, String xml) {
            this.servizio = servizio;
            this.xml = xml;
        }

        @Override
        public boolean isStatusOk() {
            if (servizio.equals("STATUS_THROWS")) throw new IllegalStateException("no status");
            return !servizio.equals("KO");
        }

        @Override
        public int getErrorNumber() {
            if (servizio.equals("ERRNUM_THROWS")) throw new IllegalStateException("no error number");
            return servizio.equals("KO") ? 7 : 0;
        }

        @Override
        public String getXMLMessage() {
            if (servizio.equals("XML_THROWS")) throw new IllegalStateException("no XML");
            return servizio.equals("XML_NULL") ? null : xml;
        }
    }
}
