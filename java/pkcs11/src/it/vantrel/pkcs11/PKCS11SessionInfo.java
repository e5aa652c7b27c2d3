package it.vantrel.pkcs11;

/** State, flags and device error of a session. */
public class PKCS11SessionInfo {
    public final int state;
    public final int flags;
    public final int ulDeviceError;

    public PKCS11SessionInfo(int state, int flags, int ulDeviceError) {
        this.state = state;
        this.flags = flags;
        this.ulDeviceError = ulDeviceError;
    }
}
