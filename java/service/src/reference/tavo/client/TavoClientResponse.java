package tavo.client;

/** A service reply: HTTP outcome, the service's error number and its XML body. */
public final class TavoClientResponse implements ITavoClientResponse {
    private final boolean statusOk;
    private final int errorNumber;
    private final String xmlMessage;

    public TavoClientResponse(boolean statusOk, int errorNumber, String xmlMessage) {
        this.statusOk = statusOk;
        this.errorNumber = errorNumber;
        this.xmlMessage = xmlMessage;
    }

    @Override
    public boolean isStatusOk() {
        return statusOk;
    }

    @Override
    public int getErrorNumber() {
        return errorNumber;
    }

    @Override
    public String getXMLMessage() {
        return xmlMessage;
    }
}
