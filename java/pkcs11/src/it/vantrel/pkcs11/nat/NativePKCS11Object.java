package it.vantrel.pkcs11.nat;

import it.vantrel.pkcs11.PKCS11Exception;

import java.math.BigInteger;
import java.util.Date;

/** An object (key, certificate, data) seen through a session. */
public class NativePKCS11Object {
    private final NativePKCS11Session session;
    private final int objectID;

    public NativePKCS11Object(NativePKCS11Session session, int objectID) {
        this.session = session;
        this.objectID = objectID;
    }

    public NativePKCS11Session getSession() {
        return session;
    }

    public int getObjectID() {
        return objectID;
    }

    /** Not supported by the bridge: always throws. */
    public native NativePKCS11Object copy(int[] types, Object[] values) throws PKCS11Exception;

    public native void destroy() throws PKCS11Exception;

    public native int size() throws PKCS11Exception;

    public native Object getAttributeValue(int type) throws PKCS11Exception;

    public native boolean getBoolAttributeValue(int type) throws PKCS11Exception;

    public native int getIntAttributeValue(int type) throws PKCS11Exception;

    public native String getStringAttributeValue(int type) throws PKCS11Exception;

    public native byte[] getByteArrayAttributeValue(int type) throws PKCS11Exception;

    public native Date getDateAttributeValue(int type) throws PKCS11Exception;

    public native BigInteger getBigIntegerAttributeValue(int type) throws PKCS11Exception;

    public native void setAttributeValue(int type, Object value) throws PKCS11Exception;

    public native void setAttributeValues(int[] types, Object[] values) throws PKCS11Exception;

    public native void setBoolAttributeValue(int type, boolean value) throws PKCS11Exception;

    public native void setIntAttributeValue(int type, int value) throws PKCS11Exception;
}
