// Page script of the outgoing-document pages: drafting ("fawen.asp"),
// redrafting ("fawen1.asp") and the approval steps.
//
// A document body (and an attachment) travels as the whole body of a POST
// before the form is submitted: "savedoc.asp" stores a new body and makes the
// session name its document, "redraftdoc.asp" replaces the body of the
// document being redrafted, "fawenpso.asp" stores the attachment. The page
// sets `maxsize`, the upload ceiling in bytes.

function fawenField(name) {
  return document.form ? document.form.elements[name] : null;
}

function fawenMessage(text) {
  var span = document.getElementById('fawenmsg');
  if (span) span.innerText = text;
}

// Posts one file as the whole request body; resolves when it was stored.
function fawenUpload(url, file) {
  return fetch(url, {method: 'POST', body: file, credentials: 'same-origin',
      redirect: 'manual', headers: {'Content-Type': 'application/octet-stream'}})
    .then(function (r) {
      if (r.ok) return;
      if (r.status === 413) throw new Error('文件超过了允许的大小。');
      if (r.status === 403) throw new Error('您不能修改该公文的文件。');
      throw new Error('上传失败，请重新登录后再试。');
    });
}

function fawenExt(name) {
  var dot = name.lastIndexOf('.');
  return dot < 0 ? '' : name.substring(dot + 1).toLowerCase();
}

function fawenFile(id) {
  var input = typeof id === 'string' ? document.getElementById(id) : id;
  return input && input.files && input.files.length ? input.files[0] : null;
}

// The template download follows the template chosen in the form.
function fawenTempleLink() {
  var link = document.getElementById('templelink');
  var temple = fawenField('temple');
  if (!link || !temple) return;
  link.href = temple.value ? 'loadtemple.asp?id=' + encodeURIComponent(temple.value) : '#';
}

// The image button beside the template list: downloads the chosen template,
// to be edited and chosen as the body. Never submits the form.
function OpenWindows() {
  var temple = fawenField('temple');
  if (!temple || !temple.value) {
    alert('没有可用的公文模板。');
    return false;
  }
  window.open('loadtemple.asp?id=' + encodeURIComponent(temple.value));
  return false;
}

function fawenCheckForm(body, attachment, bodyNeeded) {
  if (bodyNeeded && !body) return '请选择公文正文文件。';
  if (body && body.size === 0) return '公文正文文件是空的。';
  if ((body && body.size > maxsize) || (attachment && attachment.size > maxsize))
    return '文件超过了允许的大小。';
  if (fawenField('title').value.trim() === '') return '请输入文件标题。';
  if (fawenField('hiddenselect').value === '') return '请选择下一步的处理人。';
  return '';
}

// Uploads the attachment if one is chosen, then submits the form.
function fawenFinish(attachment) {
  var done = Promise.resolve();
  if (attachment) {
    fawenMessage('正在上传附件……');
    done = fawenUpload('fawenpso.asp', attachment).then(function () {
      fawenField('fujian').value = attachment.name;
      fawenField('fujiantype').value = fawenExt(attachment.name);
    });
  }
  return done.then(function () {
    fawenMessage('正在发送……');
    HTMLFormElement.prototype.submit.call(document.form);
  });
}

// One send at a time: a second click while the uploads and the post are on
// their way does nothing; a failure allows another try.
var fawenSending = false;

function fawenFailed(e) {
  fawenSending = false;
  fawenMessage(e.message);
}

// Drafting: body first (it creates the document), then attachment and form.
function sendfawen() {
  if (fawenSending) return;
  var body = fawenFile('bodyfile');
  var attachment = fawenFile(fawenField('file'));
  var problem = fawenCheckForm(body, attachment, true);
  if (problem) {
    alert(problem);
    return;
  }
  fawenSending = true;
  fawenMessage('正在上传正文……');
  fawenUpload('savedoc.asp', body)
    .then(function () {
      fawenField('documentname').value = body.name;
      return fawenFinish(attachment);
    })
    .catch(fawenFailed);
}

// Redrafting: a new body is optional and replaces the old one.
function sendredraft() {
  if (fawenSending) return;
  var body = fawenFile('bodyfile');
  var attachment = fawenFile(fawenField('file'));
  var problem = fawenCheckForm(body, attachment, false);
  if (problem) {
    alert(problem);
    return;
  }
  fawenSending = true;
  var done = Promise.resolve();
  if (body) {
    fawenMessage('正在上传正文……');
    done = fawenUpload('redraftdoc.asp', body).then(function () {
      fawenField('opendoc').value = body.name;
    });
  }
  done.then(function () { return fawenFinish(attachment); })
    .catch(fawenFailed);
}

// Approval forms.
function checkstep(handlerNeeded) {
  if (handlerNeeded && fawenField('hiddenselect').value === '') {
    alert('请选择下一步的处理人。');
    return false;
  }
  return true;
}

function checkchain() {
  if (fawenField('hiddenselect').value === '') {
    alert('请选择会签人。');
    return false;
  }
  if (fawenField('qianfa').value === '') {
    alert('请选择签发人。');
    return false;
  }
  return true;
}

function checkfenfa() {
  if (fawenField('hiddenselect').value === '')
    return confirm('没有选择收文人，公文将只归档。继续吗？');
  return true;
}

function checkback() {
  return confirm('确定把公文退回拟稿人重新起草吗？');
}

(function () {
  var temple = fawenField('temple');
  if (temple) {
    temple.addEventListener('change', fawenTempleLink);
    fawenTempleLink();
  }
})();
