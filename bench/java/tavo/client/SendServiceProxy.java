package tavo.client;

/** The trivial proxy the service benchmarks use: every call answers at once with fixed values. */
public class SendServiceProxy {
    private static final ITavoClientResponse POSITIVE = new ITavoClientResponse() {
        @Override
        public boolean isStatusOk() {
            return true;
        }

        @Override
        public int getErrorNumber() {
            return 0;
        }

        @Override
        public String getXMLMessage() {
            return "<esito>OK</esito>";
        }
    };

    public boolean startTavo() {
        return true;
    }

    public void stopTavo() {
    }

    public String checkTransport() {
        return "OK";
    }

    public String getVersionePorta() {
        return "bench";
    }

    public int getRideConfig() {
        return 0;
    }

    public ITavoClientResponse sendMessageS(String servizio, String mittente, String messaggio) {
        return POSITIVE;
    }

    public ITavoClientResponse sendMessageA(String servizio, String mittente, String messaggio) {
        return POSITIVE;
    }
}
