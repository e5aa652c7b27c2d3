package tavo.client;

/** Test proxy lacking getVersionePorta and sendMessageA. */
public class SendServiceProxy {
    public boolean startTavo() {
        return true;
    }

    public void stopTavo() {}

    public String checkTransport() {
        return "OK";
    }

    public int getRideConfig() {
        return 5;
    }

    public ITavoClientResponse sendMessageS(String servizio, String mittente, String messaggio) {
        return null;
    }
}
