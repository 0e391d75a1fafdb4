       IDENTIFICATION DIVISION.
       PROGRAM-ID. BENCHX.
       COPY "benchbody.cpy".
