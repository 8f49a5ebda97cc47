enum {
	WHITE,
	FLAG
};

const struct _FileInfo {
	char *FileName;
} FileInfo[] = {
	/*  0*/ { "white.bmp" },
	/*  1*/ { "flag.bmp" }
};

const unsigned char FilePos[] = {
	      //addrh addrm addrl
	/*  0*/ 0x00, 0x00, 0x09,
	/*  1*/ 0x00, 0x00, 0x10
};
