package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11MechanismInfo;
import it.vantrel.pkcs11.PKCS11SlotInfo;
import it.vantrel.pkcs11.PKCS11TokenInfo;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.util.Arrays;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Slot and session natives against the initialised SoftHSM2 token. */
class SlotSessionSoftHsmTest {
    private static final int RW_SERIAL = 6;
    private static final int CKS_RW_PUBLIC_SESSION = 2;
    private static final int CKS_RW_USER_FUNCTIONS = 3;

    private final NativePKCS11 module = new NativePKCS11();
    private NativePKCS11Slot slot;

    @BeforeEach
    void bind() throws PKCS11Exception {
        module.loadPKCS11Library(SoftHsm.path());
        module.libInitialize();
        for (NativePKCS11Slot candidate : module.getSlotList(true)) {
            if (candidate.getTokenInfo().label.trim().equals(SoftHsm.LABEL)) {
                slot = candidate;
            }
        }
        assertNotNull(slot, "initialised token");
    }

    @AfterEach
    void release() throws PKCS11Exception {
        module.libFinalize();
    }

    private static void assertCode(int code, Executable call) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call);
        assertEquals(code, e.getErrorCode(), e.getMessage());
    }

    @Test
    void slotAndTokenInformationKeepTheirBlanks() throws PKCS11Exception {
        PKCS11SlotInfo slotInfo = slot.getInfo();
        assertEquals(64, slotInfo.slotDescription.length());
        assertEquals("SoftHSM project", slotInfo.manufacturerID.trim());
        assertEquals(1, slotInfo.flags & 1, "token present");
        PKCS11TokenInfo token = slot.getTokenInfo();
        assertEquals(SoftHsm.LABEL + " ".repeat(32 - SoftHsm.LABEL.length()), token.label);
        assertEquals("SoftHSM v2", token.model.trim());
        assertEquals(16, token.serialNumber.length());
        assertEquals(token.serialNumber, slot.getTokenSN());
        assertEquals(16, slot.getTokenSN().length());
        assertEquals(4, token.ulMinPinLen);
        assertEquals(16, token.utcTime.length());
    }

    @Test
    void mechanismsIncludeRsaKeyGeneration() throws PKCS11Exception {
        int[] mechanisms = slot.getMechanismList();
        assertTrue(mechanisms.length > 10);
        assertTrue(Arrays.stream(mechanisms).anyMatch(m -> m == 0), "CKM_RSA_PKCS_KEY_PAIR_GEN");
        PKCS11MechanismInfo info = slot.getMechanismInfo(0);
        assertTrue(info.ulMinKeySize > 0 && info.ulMaxKeySize >= info.ulMinKeySize);
        assertEquals(0x10000, info.flags & 0x10000, "CKF_GENERATE_KEY_PAIR");
        assertCode(0x70, () -> slot.getMechanismInfo(0x7FFFFFF0));
    }

    @Test
    void sessionsOpenLogInAndClose() throws PKCS11Exception {
        assertCode(0xB4, () -> slot.openSession(0, null, null));
        NativePKCS11Session session = slot.openSession(RW_SERIAL, null, null);
        assertSame(slot, session.getSlot());
        assertEquals(CKS_RW_PUBLIC_SESSION, session.getInfo().state);
        assertEquals(RW_SERIAL, session.getInfo().flags);
        assertCode(0xA0, () -> session.login(false, "9999"));
        session.login(false, SoftHsm.USER_PIN);
        assertEquals(CKS_RW_USER_FUNCTIONS, session.getInfo().state);
        session.logout();
        assertEquals(CKS_RW_PUBLIC_SESSION, session.getInfo().state);
        session.close();
        assertCode(0xB3, session::getInfo);
        assertCode(0xB3, session::close);
    }

    @Test
    void pinsChangeAndComeBack() throws PKCS11Exception {
        NativePKCS11Session session = slot.openSession(RW_SERIAL, null, null);
        session.login(false, SoftHsm.USER_PIN);
        session.setPIN(SoftHsm.USER_PIN, "567890");
        session.logout();
        assertCode(0xA0, () -> session.login(false, SoftHsm.USER_PIN));
        session.login(false, "567890");
        session.setPIN("567890", SoftHsm.USER_PIN);
        session.logout();

        session.login(true, SoftHsm.SO_PIN);
        session.initPIN("24680");
        session.logout();
        session.login(false, "24680");
        session.setPIN("24680", SoftHsm.USER_PIN);
        session.logout();
        session.login(false, SoftHsm.USER_PIN);
        session.close();
    }

    @Test
    void closeAllSessionsInvalidatesEveryPeer() throws PKCS11Exception {
        NativePKCS11Session first = slot.openSession(RW_SERIAL, null, null);
        NativePKCS11Session second = slot.openSession(4, null, null);
        slot.closeAllSessions();
        assertCode(0xB3, first::getInfo);
        assertCode(0xB3, second::logout);
    }

    @Test
    void nullPinsNeverReachTheModule() throws PKCS11Exception {
        NativePKCS11Session session = slot.openSession(RW_SERIAL, null, null);
        assertEquals("Internal error", assertThrows(PKCS11Exception.class,
                () -> session.login(false, null)).getMessage());
        assertEquals("Internal error", assertThrows(PKCS11Exception.class,
                () -> session.setPIN(SoftHsm.USER_PIN, null)).getMessage());
        assertEquals(CKS_RW_PUBLIC_SESSION, session.getInfo().state);
        session.close();
    }
}
