package tavo.client;

/** The reply of a send call, as the service client reads it. */
public interface ITavoClientResponse {
    boolean isStatusOk();

    int getErrorNumber();

    String getXMLMessage();
}
