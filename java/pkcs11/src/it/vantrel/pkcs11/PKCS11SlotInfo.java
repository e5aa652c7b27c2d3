package it.vantrel.pkcs11;

/** Information about a slot. Versions are major * 256 + minor. */
public class PKCS11SlotInfo {
    public final String slotDescription;
    public final String manufacturerID;
    public final int flags;
    public final int hardwareVersion;
    public final int firmwareVersion;

    public PKCS11SlotInfo(String slotDescription, String manufacturerID, int flags, int hardwareVersion,
            int firmwareVersion) {
        this.slotDescription = slotDescription;
        this.manufacturerID = manufacturerID;
        this.flags = flags;
        this.hardwareVersion = hardwareVersion;
        this.firmwareVersion = firmwareVersion;
    }
}
