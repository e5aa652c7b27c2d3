package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11Info;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Module natives against SoftHSM2 with one initialised token and its free slot. */
class ModuleSoftHsmTest {
    private final NativePKCS11 module = new NativePKCS11();

    @AfterEach
    void release() throws PKCS11Exception {
        module.libFinalize();
    }

    @Test
    void loadInitialiseAndReadInformation() throws PKCS11Exception {
        assertNotEquals(0L, module.loadPKCS11Library(SoftHsm.path()));
        module.libInitialize();
        PKCS11Info info = module.getInfo();
        assertEquals(32, info.manufacturerID.length());
        assertEquals("SoftHSM", info.manufacturerID.trim());
        assertEquals(32, info.libraryDescription.length());
        assertTrue(info.libraryDescription.startsWith("Implementation of PKCS11"));
        assertEquals(2, info.cryptokiVersion >> 8);
        assertEquals(2 * 256 + 6, info.libraryVersion, "SoftHSM 2.6");
    }

    @Test
    void slotListsWithAndWithoutToken() throws PKCS11Exception {
        module.loadPKCS11Library(SoftHsm.path());
        module.libInitialize();
        NativePKCS11Slot[] all = module.getSlotList(false);
        NativePKCS11Slot[] withToken = module.getSlotList(true);
        // The initialised token and the free slot SoftHSM always offers.
        assertEquals(2, all.length);
        assertEquals(2, withToken.length);
        for (NativePKCS11Slot slot : all) {
            assertSame(module, slot.getModule());
        }
    }

    @Test
    void secondInitialiseIsTheModulesErrorAndReloadWorks() throws PKCS11Exception {
        module.loadPKCS11Library(SoftHsm.path());
        module.libInitialize();
        PKCS11Exception twice = assertThrows(PKCS11Exception.class, module::libInitialize);
        assertEquals(0x191, twice.getErrorCode());
        module.libFinalize();
        PKCS11Exception released = assertThrows(PKCS11Exception.class, module::getInfo);
        assertEquals("Internal error", released.getMessage());
        module.loadPKCS11Library(SoftHsm.path());
        module.libInitialize();
        assertEquals("SoftHSM", module.getInfo().manufacturerID.trim());
    }
}
