package it.vantrel.pkcs11;

/** A failed Cryptoki call (with its result code) or a failure of the bridge (with a message). */
public class PKCS11Exception extends Exception {
    private static final long serialVersionUID = 1L;

    private final int errorCode;
    private final boolean vendorDefined;
    private final boolean hasCode;

    public PKCS11Exception(String message) {
        super(message);
        this.errorCode = 0;
        this.vendorDefined = false;
        this.hasCode = false;
    }

    public PKCS11Exception(int errorCode) {
        super(String.format("Cryptoki error 0x%08X", errorCode));
        this.errorCode = errorCode;
        this.vendorDefined = false;
        this.hasCode = true;
    }

    public PKCS11Exception(int errorCode, boolean vendorDefined) {
        super(String.format("Cryptoki error 0x%08X%s", errorCode, vendorDefined ? " (vendor defined)" : ""));
        this.errorCode = errorCode;
        this.vendorDefined = vendorDefined;
        this.hasCode = true;
    }

    /** The Cryptoki result code; 0 when the exception carries a message instead. */
    public int getErrorCode() {
        return errorCode;
    }

    public boolean isVendorDefined() {
        return vendorDefined;
    }

    public boolean hasErrorCode() {
        return hasCode;
    }
}
