package it.vantrel.pkcs11.demo;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11Info;
import it.vantrel.pkcs11.PKCS11MechanismInfo;
import it.vantrel.pkcs11.PKCS11SessionInfo;
import it.vantrel.pkcs11.PKCS11SlotInfo;
import it.vantrel.pkcs11.PKCS11TokenInfo;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** The dump's calls through p11bridge. */
public final class BridgeSide implements ModuleSide {
    private final NativePKCS11 module = new NativePKCS11();
    private final Map<Long, NativePKCS11Session> sessions = new HashMap<>();

    private interface Call<T> {
        T run() throws PKCS11Exception;
    }

    public BridgeSide(String path) throws Failure {
        call(() -> {
            module.loadPKCS11Library(path);
            module.libInitialize();
            return null;
        });
    }

    private static <T> T call(Call<T> call) throws Failure {
        try {
            return call.run();
        } catch (PKCS11Exception e) {
            throw new Failure(e.hasErrorCode() ? DumpLines.error(Integer.toUnsignedLong(e.getErrorCode()))
                                                : "error '" + e.getMessage() + "'");
        }
    }

    private static long unsigned(int value) {
        return Integer.toUnsignedLong(value);
    }

    private static long[] unsigned(int[] values) {
        return Arrays.stream(values).mapToLong(Integer::toUnsignedLong).toArray();
    }

    private static Version version(int value) {
        return new Version(value >> 8, value & 0xFF);
    }

    private static byte[] bytes(String text) {
        return text == null ? null : text.getBytes(StandardCharsets.UTF_8);
    }

    private NativePKCS11Slot slot(long id) {
        return new NativePKCS11Slot(module, (int) id);
    }

    private NativePKCS11Object object(long session, long id) {
        return new NativePKCS11Object(sessions.get(session), (int) id);
    }

    @Override
    public Info info() throws Failure {
        PKCS11Info info = call(module::getInfo);
        return new Info(version(info.cryptokiVersion), bytes(info.manufacturerID), unsigned(info.flags),
                bytes(info.libraryDescription), version(info.libraryVersion));
    }

    @Override
    public long[] slots(boolean tokenPresent) throws Failure {
        NativePKCS11Slot[] slots = call(() -> module.getSlotList(tokenPresent));
        if (slots == null) return new long[0];
        return Arrays.stream(slots).mapToLong(s -> unsigned(s.getSlotID())).toArray();
    }

    @Override
    public SlotInfo slotInfo(long slot) throws Failure {
        PKCS11SlotInfo info = call(slot(slot)::getInfo);
        return new SlotInfo(bytes(info.slotDescription), bytes(info.manufacturerID), unsigned(info.flags),
                version(info.hardwareVersion), version(info.firmwareVersion));
    }

    @Override
    public TokenInfo tokenInfo(long slot) throws Failure {
        PKCS11TokenInfo t = call(slot(slot)::getTokenInfo);
        int[] counts = {t.ulMaxSessionCount, t.ulSessionCount, t.ulMaxRwSessionCount, t.ulRwSessionCount,
            t.ulMaxPinLen, t.ulMinPinLen, t.ulTotalPublicMemory, t.ulFreePublicMemory, t.ulTotalPrivateMemory,
            t.ulFreePrivateMemory};
        return new TokenInfo(bytes(t.label), bytes(t.manufacturerID), bytes(t.model), bytes(t.serialNumber),
                unsigned(t.flags), unsigned(counts), version(t.hardwareVersion), version(t.firmwareVersion),
                bytes(t.utcTime));
    }

    @Override
    public long[] mechanisms(long slot) throws Failure {
        return unsigned(call(slot(slot)::getMechanismList));
    }

    @Override
    public MechanismInfo mechanismInfo(long slot, long type) throws Failure {
        PKCS11MechanismInfo info = call(() -> slot(slot).getMechanismInfo((int) type));
        return new MechanismInfo(unsigned(info.ulMinKeySize), unsigned(info.ulMaxKeySize), unsigned(info.flags));
    }

    @Override
    public long openSession(long slot) throws Failure {
        NativePKCS11Session session = call(() -> slot(slot).openSession(ModuleDump.CKF_SERIAL_SESSION, null, null));
        long handle = unsigned(session.getSessionID());
        sessions.put(handle, session);
        return handle;
    }

    @Override
    public SessionInfo sessionInfo(long session) throws Failure {
        PKCS11SessionInfo info = call(sessions.get(session)::getInfo);
        return new SessionInfo(unsigned(info.state), unsigned(info.flags), unsigned(info.ulDeviceError));
    }

    @Override
    public void login(long session, String pin) throws Failure {
        call(() -> {
            sessions.get(session).login(false, pin);
            return null;
        });
    }

    @Override
    public void logout(long session) throws Failure {
        call(() -> {
            sessions.get(session).logout();
            return null;
        });
    }

    @Override
    public void closeSession(long session) throws Failure {
        call(() -> {
            sessions.remove(session).close();
            return null;
        });
    }

    @Override
    public long[] findObjects(long session, long[] types, Object[] values) throws Failure {
        NativePKCS11Session peer = sessions.get(session);
        int[] bridgeTypes = new int[types.length];
        Object[] bridgeValues = new Object[values.length];
        for (int i = 0; i < types.length; i++) {
            bridgeTypes[i] = (int) types[i];
            // The bridge takes a CK_ULONG value as Integer.
            bridgeValues[i] = values[i] instanceof Long ? Integer.valueOf((int) (long) (Long) values[i]) : values[i];
        }
        return call(() -> {
            peer.findObjectsInit(types.length == 0 ? null : bridgeTypes, types.length == 0 ? null : bridgeValues);
            List<Long> found = new ArrayList<>();
            try {
                for (NativePKCS11Object o = peer.findObject(); o != null; o = peer.findObject()) {
                    found.add(unsigned(o.getObjectID()));
                }
            } finally {
                peer.findObjectsFinal();
            }
            return found.stream().mapToLong(Long::longValue).toArray();
        });
    }

    @Override
    public long intAttribute(long session, long object, long type) throws Failure {
        return unsigned(call(() -> object(session, object).getIntAttributeValue((int) type)));
    }

    @Override
    public boolean boolAttribute(long session, long object, long type) throws Failure {
        return call(() -> object(session, object).getBoolAttributeValue((int) type));
    }

    @Override
    public byte[] bytesAttribute(long session, long object, long type) throws Failure {
        return call(() -> object(session, object).getByteArrayAttributeValue((int) type));
    }

    @Override
    public String textAttribute(long session, long object, long type) throws Failure {
        return call(() -> object(session, object).getStringAttributeValue((int) type));
    }

    @Override
    public byte[] sign(long session, long key, long mechanism, byte[] data) throws Failure {
        NativePKCS11Session peer = sessions.get(session);
        return call(() -> {
            peer.signInit((int) mechanism, null, object(session, key));
            byte[] signature = new byte[peer.sign(data, 0, data.length, null, 0)];
            return Arrays.copyOf(signature, peer.sign(data, 0, data.length, signature, 0));
        });
    }

    @Override
    public void finish() {
        try {
            module.libFinalize();
        } catch (PKCS11Exception e) {
            // The process ends next; the module's answer is of no use here.
        }
    }
}
