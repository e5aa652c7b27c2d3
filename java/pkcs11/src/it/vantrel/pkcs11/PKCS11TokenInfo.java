package it.vantrel.pkcs11;

/** Information about the token in a slot. Versions are major * 256 + minor. */
public class PKCS11TokenInfo {
    public final String label;
    public final String manufacturerID;
    public final String model;
    public final String serialNumber;
    public final int flags;
    public final int ulMaxSessionCount;
    public final int ulSessionCount;
    public final int ulMaxRwSessionCount;
    public final int ulRwSessionCount;
    public final int ulMaxPinLen;
    public final int ulMinPinLen;
    public final int ulTotalPublicMemory;
    public final int ulFreePublicMemory;
    public final int ulTotalPrivateMemory;
    public final int ulFreePrivateMemory;
    public final int hardwareVersion;
    public final int firmwareVersion;
    public final String utcTime;

    public PKCS11TokenInfo(String label, String manufacturerID, String model, String serialNumber, int flags,
            int ulMaxSessionCount, int ulSessionCount, int ulMaxRwSessionCount, int ulRwSessionCount,
            int ulMaxPinLen, int ulMinPinLen, int ulTotalPublicMemory, int ulFreePublicMemory,
            int ulTotalPrivateMemory, int ulFreePrivateMemory, int hardwareVersion, int firmwareVersion,
            String utcTime) {
        this.label = label;
        this.manufacturerID = manufacturerID;
        this.model = model;
        this.serialNumber = serialNumber;
        this.flags = flags;
        this.ulMaxSessionCount = ulMaxSessionCount;
        this.ulSessionCount = ulSessionCount;
        this.ulMaxRwSessionCount = ulMaxRwSessionCount;
        this.ulRwSessionCount = ulRwSessionCount;
        this.ulMaxPinLen = ulMaxPinLen;
        this.ulMinPinLen = ulMinPinLen;
        this.ulTotalPublicMemory = ulTotalPublicMemory;
        this.ulFreePublicMemory = ulFreePublicMemory;
        this.ulTotalPrivateMemory = ulTotalPrivateMemory;
        this.ulFreePrivateMemory = ulFreePrivateMemory;
        this.hardwareVersion = hardwareVersion;
        this.firmwareVersion = firmwareVersion;
        this.utcTime = utcTime;
    }
}
