package it.vantrel.pkcs11.demo;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11Info;
import it.vantrel.pkcs11.PKCS11SlotInfo;
import it.vantrel.pkcs11.PKCS11TokenInfo;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

/** Loads a Cryptoki module through p11bridge and prints its information and its slots. */
public final class ModuleReport {
    private ModuleReport() {
    }

    public static void main(String[] args) {
        if (args.length != 1) {
            System.err.println("usage: ModuleReport <path of a Cryptoki module>");
            System.exit(2);
        }
        NativePKCS11 module = new NativePKCS11();
        try {
            System.out.println("bridge version " + module.getBridgeVersion());
            module.loadPKCS11Library(args[0]);
            module.libInitialize();
            try {
                report(module);
            } finally {
                module.libFinalize();
            }
        } catch (PKCS11Exception e) {
            System.err.println("failed: " + e.getMessage());
            System.exit(1);
        }
    }

    private static String version(int value) {
        return (value >> 8) + "." + (value & 0xFF);
    }

    private static void report(NativePKCS11 module) throws PKCS11Exception {
        PKCS11Info info = module.getInfo();
        System.out.println("module " + info.libraryDescription.trim() + " " + version(info.libraryVersion)
                + " by " + info.manufacturerID.trim() + ", Cryptoki " + version(info.cryptokiVersion));
        NativePKCS11Slot[] slots = module.getSlotList(false);
        System.out.println((slots == null ? 0 : slots.length) + " slot(s)");
        if (slots == null) {
            return;
        }
        for (NativePKCS11Slot slot : slots) {
            PKCS11SlotInfo slotInfo = slot.getInfo();
            System.out.println("slot " + Integer.toUnsignedString(slot.getSlotID()) + ": "
                    + slotInfo.slotDescription.trim() + " (flags 0x" + Integer.toHexString(slotInfo.flags) + ")");
            if ((slotInfo.flags & 1) == 0) {
                System.out.println("  no token");
                continue;
            }
            PKCS11TokenInfo token = slot.getTokenInfo();
            System.out.println("  token '" + token.label.trim() + "', model " + token.model.trim() + ", serial "
                    + token.serialNumber.trim() + ", " + slot.getMechanismList().length + " mechanisms");
        }
    }
}
