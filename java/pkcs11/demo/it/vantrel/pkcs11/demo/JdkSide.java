package it.vantrel.pkcs11.demo;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

import sun.security.pkcs11.wrapper.CK_ATTRIBUTE;
import sun.security.pkcs11.wrapper.CK_INFO;
import sun.security.pkcs11.wrapper.CK_MECHANISM;
import sun.security.pkcs11.wrapper.CK_MECHANISM_INFO;
import sun.security.pkcs11.wrapper.CK_SESSION_INFO;
import sun.security.pkcs11.wrapper.CK_SLOT_INFO;
import sun.security.pkcs11.wrapper.CK_TOKEN_INFO;
import sun.security.pkcs11.wrapper.CK_VERSION;
import sun.security.pkcs11.wrapper.PKCS11;
import sun.security.pkcs11.wrapper.PKCS11Exception;

/**
 * The dump's calls through the JDK's own Cryptoki wrapper. Its package is not exported: the
 * JVM that runs this needs --add-modules jdk.crypto.cryptoki and --add-exports
 * jdk.crypto.cryptoki/sun.security.pkcs11.wrapper=ALL-UNNAMED.
 */
public final class JdkSide implements ModuleSide {
    private static final long CKU_USER = 1;
    private final PKCS11 module;

    private interface Call<T> {
        T run() throws PKCS11Exception;
    }

    public JdkSide(String path) throws Failure {
        try {
            // Initialised without arguments, as the bridge does.
            module = PKCS11.getInstance(path, "C_GetFunctionList", null, false);
        } catch (PKCS11Exception e) {
            throw new Failure(DumpLines.error(e.getErrorCode()));
        } catch (java.io.IOException e) {
            throw new Failure("error '" + e.getMessage() + "'");
        }
    }

    private static <T> T call(Call<T> call) throws Failure {
        try {
            return call.run();
        } catch (PKCS11Exception e) {
            throw new Failure(DumpLines.error(e.getErrorCode()));
        }
    }

    private static Version version(CK_VERSION v) {
        return new Version(v.major & 0xFF, v.minor & 0xFF);
    }

    /** The wrapper hands Cryptoki texts over one byte per char. */
    private static byte[] bytes(char[] chars) {
        byte[] bytes = new byte[chars.length];
        for (int i = 0; i < chars.length; i++) {
            if (chars[i] > 0xFF) return new String(chars).getBytes(StandardCharsets.UTF_8);
            bytes[i] = (byte) chars[i];
        }
        return bytes;
    }

    @Override
    public Info info() throws Failure {
        CK_INFO info = call(module::C_GetInfo);
        return new Info(version(info.cryptokiVersion), bytes(info.manufacturerID), info.flags,
                bytes(info.libraryDescription), version(info.libraryVersion));
    }

    @Override
    public long[] slots(boolean tokenPresent) throws Failure {
        return call(() -> module.C_GetSlotList(tokenPresent));
    }

    @Override
    public SlotInfo slotInfo(long slot) throws Failure {
        CK_SLOT_INFO info = call(() -> module.C_GetSlotInfo(slot));
        return new SlotInfo(bytes(info.slotDescription), bytes(info.manufacturerID), info.flags,
                version(info.hardwareVersion), version(info.firmwareVersion));
    }

    @Override
    public TokenInfo tokenInfo(long slot) throws Failure {
        CK_TOKEN_INFO t = call(() -> module.C_GetTokenInfo(slot));
        long[] counts = {t.ulMaxSessionCount, t.ulSessionCount, t.ulMaxRwSessionCount, t.ulRwSessionCount,
            t.ulMaxPinLen, t.ulMinPinLen, t.ulTotalPublicMemory, t.ulFreePublicMemory, t.ulTotalPrivateMemory,
            t.ulFreePrivateMemory};
        return new TokenInfo(bytes(t.label), bytes(t.manufacturerID), bytes(t.model), bytes(t.serialNumber), t.flags,
                counts, version(t.hardwareVersion), version(t.firmwareVersion), bytes(t.utcTime));
    }

    @Override
    public long[] mechanisms(long slot) throws Failure {
        return call(() -> module.C_GetMechanismList(slot));
    }

    @Override
    public MechanismInfo mechanismInfo(long slot, long type) throws Failure {
        CK_MECHANISM_INFO info = call(() -> module.C_GetMechanismInfo(slot, type));
        return new MechanismInfo(info.ulMinKeySize, info.ulMaxKeySize, info.flags);
    }

    @Override
    public long openSession(long slot) throws Failure {
        return call(() -> module.C_OpenSession(slot, ModuleDump.CKF_SERIAL_SESSION, null, null));
    }

    @Override
    public SessionInfo sessionInfo(long session) throws Failure {
        CK_SESSION_INFO info = call(() -> module.C_GetSessionInfo(session));
        return new SessionInfo(info.state, info.flags, info.ulDeviceError);
    }

    @Override
    public void login(long session, String pin) throws Failure {
        call(() -> {
            module.C_Login(session, CKU_USER, pin.toCharArray());
            return null;
        });
    }

    @Override
    public void logout(long session) throws Failure {
        call(() -> {
            module.C_Logout(session);
            return null;
        });
    }

    @Override
    public void closeSession(long session) throws Failure {
        call(() -> {
            module.C_CloseSession(session);
            return null;
        });
    }

    @Override
    public long[] findObjects(long session, long[] types, Object[] values) throws Failure {
        CK_ATTRIBUTE[] template = new CK_ATTRIBUTE[types.length];
        for (int i = 0; i < types.length; i++) template[i] = new CK_ATTRIBUTE(types[i], values[i]);
        return call(() -> {
            module.C_FindObjectsInit(session, template);
            List<Long> found = new ArrayList<>();
            try {
                for (long[] batch = module.C_FindObjects(session, 100); batch.length > 0;
                        batch = module.C_FindObjects(session, 100)) {
                    for (long handle : batch) found.add(handle);
                }
            } finally {
                module.C_FindObjectsFinal(session);
            }
            return found.stream().mapToLong(Long::longValue).toArray();
        });
    }

    private CK_ATTRIBUTE attribute(long session, long object, long type) throws Failure {
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(type)};
        call(() -> {
            module.C_GetAttributeValue(session, object, template);
            return null;
        });
        return template[0];
    }

    @Override
    public long intAttribute(long session, long object, long type) throws Failure {
        return attribute(session, object, type).getLong();
    }

    @Override
    public boolean boolAttribute(long session, long object, long type) throws Failure {
        return attribute(session, object, type).getBoolean();
    }

    @Override
    public byte[] bytesAttribute(long session, long object, long type) throws Failure {
        Object value = attribute(session, object, type).pValue;
        if (value == null) return new byte[0];
        return value instanceof char[] ? bytes((char[]) value) : (byte[]) value;
    }

    /** The wrapper gives no text of its own: the bytes decoded as UTF-8. */
    @Override
    public String textAttribute(long session, long object, long type) throws Failure {
        return new String(bytesAttribute(session, object, type), StandardCharsets.UTF_8);
    }

    @Override
    public byte[] sign(long session, long key, long mechanism, byte[] data) throws Failure {
        return call(() -> {
            module.C_SignInit(session, new CK_MECHANISM(mechanism), key);
            return module.C_Sign(session, data);
        });
    }

    @Override
    public void finish() {
        try {
            module.C_Finalize(null);
        } catch (PKCS11Exception e) {
            // The process ends next; the module's answer is of no use here.
        }
    }
}
