package tavo.client;

/** The outcome of one message sent to the service, as the native client reads it. */
public interface ITavoClientResponse {
    boolean isStatusOk();

    int getErrorNumber();

    String getXMLMessage();
}
