package tavo.client;

/** Test proxy without the no-argument constructor the native client needs. */
public class SendServiceProxy {
    public SendServiceProxy(String unused) {}

    public boolean startTavo() {
        return true;
    }

    public String getVersionePorta() {
        return "noctor";
    }
}
