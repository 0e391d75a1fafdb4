      * PC01: the signed-on user's permission records, read from the
      * permission file through the installation's store. The status
      * value gets their number, the status text the first three program
      * names ("PA60 PA61 PA62"). A file that cannot be read gives the
      * status text "FX02 " and its file status, and return code 9.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. PC01.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT PERM-FILE ASSIGN TO "FX02.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS FX02-KEY
               FILE STATUS IS WS-ST.
       DATA DIVISION.
       FILE SECTION.
       FD  PERM-FILE.
       COPY "FX02REC.cpy".
       WORKING-STORAGE SECTION.
       01  WS-ST                   PIC XX.
       01  WS-COUNT                PIC 9(6) VALUE 0.
       01  WS-LIST                 PIC X(15) VALUE SPACES.
       01  WS-POS                  PIC 99 VALUE 1.
       01  WS-USER-NAME            PIC X(10).
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           OPEN INPUT PERM-FILE
           IF WS-ST NOT = "00"
               PERFORM FILE-FAILED
               GOBACK
           END-IF
      *    The user's records follow each other: the key starts with the
      *    client and the user name.
           MOVE LOW-VALUES TO FX02-RECORD
           MOVE CA-CLIENT TO FX02-CLIENT
           MOVE CA-USER-NAME TO FX02-USER-NAME WS-USER-NAME
           START PERM-FILE KEY IS NOT < FX02-KEY
           PERFORM UNTIL WS-ST NOT = "00"
               READ PERM-FILE NEXT
               IF WS-ST = "00"
                   IF FX02-CLIENT NOT = CA-CLIENT
                      OR FX02-USER-NAME NOT = WS-USER-NAME
                       MOVE "10" TO WS-ST
                   ELSE
                       ADD 1 TO WS-COUNT
                       IF WS-POS < 15
                           MOVE FX02-PROGRAM TO WS-LIST(WS-POS:4)
                           ADD 5 TO WS-POS
                       END-IF
                   END-IF
               END-IF
           END-PERFORM
           IF WS-ST NOT = "10" AND WS-ST NOT = "23"
               PERFORM FILE-FAILED
               CLOSE PERM-FILE
               GOBACK
           END-IF
           CLOSE PERM-FILE
           MOVE WS-COUNT TO CA-STATUS-VALUE
           MOVE WS-LIST TO CA-STATUS-TEXT
           MOVE 0 TO RETURN-CODE
           GOBACK.

       FILE-FAILED.
           MOVE "FX02 " TO CA-STATUS-TEXT
           MOVE WS-ST TO CA-STATUS-TEXT(6:2)
           MOVE 9 TO RETURN-CODE.
