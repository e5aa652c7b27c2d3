package tavo.client;

/**
 * Proxy for the stub and tester suites. Its answers are steered by system properties set
 * through "option=-D..." lines of the configuration; getVersionePorta names the service client
 * build that marked the process (environment variable TAVO2_BUILD), so a test can tell which
 * library file the stub loaded.
 */
public class SendServiceProxy {
    public boolean startTavo() {
        return !Boolean.getBoolean("stubtest.startFails");
    }

    public void stopTavo() {
    }

    public String checkTransport() {
        String answer = System.getProperty("stubtest.transport", "OK");
        return answer.equals("null") ? null : answer;
    }

    public String getVersionePorta() {
        String build = System.getenv("TAVO2_BUILD");
        return build == null ? "3.1.0" : "3.1.0-" + build;
    }

    public int getRideConfig() {
        return 42;
    }

    public ITavoClientResponse sendMessageS(String servizio, String mittente, String messaggio) {
        return reply("S", servizio, mittente);
    }

    public ITavoClientResponse sendMessageA(String servizio, String mittente, String messaggio) {
        return reply("A", servizio, mittente);
    }

    private static ITavoClientResponse reply(String kind, String servizio, String mittente) {
        String xml = "<risposta tipo=\"" + kind + "\" servizio=\"" + servizio + "\" mittente=\"" + mittente + "\"/>";
        return new ITavoClientResponse() {
            public boolean isStatusOk() {
                return true;
            }

            public int getErrorNumber() {
                return 7;
            }

            public String getXMLMessage() {
                return xml;
            }
        };
    }
}
